#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "QuibHost/App/ControlSocket.hpp"
#include "Runtime/FakeClock.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;
using namespace std::chrono_literals;

// A blocking test client: connects, and reads with a 10 s limit per read.
class Client {
public:
    explicit Client(const fs::path& path) : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        timeval limit{10, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { ::close(fd_); }

    bool connected() const { return connected_; }
    void write(const std::string& bytes) { ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    // The next line, or none at the end of the stream (or after 10 s of silence).
    std::optional<std::string> readLine() {
        while (buffer_.find('\n') == std::string::npos) {
            char chunk[1024];
            const ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n <= 0) return std::nullopt;
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
        const auto end = buffer_.find('\n');
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
    }
    std::vector<Json> readAll() {
        std::vector<Json> lines;
        while (auto line = readLine()) lines.push_back(Json::parse(*line));
        return lines;
    }

private:
    int fd_;
    bool connected_ = false;
    std::string buffer_;
};

// A handler that answers every request with its own command, then "done", from another thread,
// as the host's main loop would.
ControlSocket::Handler echoHandler() {
    return [](const Json& request, std::shared_ptr<ControlSocket::Reply> reply) {
        std::thread([request, reply] {
            reply->send(Json{{"command", request.value("command", "")}});
            reply->send(Json{{"ok", true}});
            reply->finish();
        }).detach();
    };
}

TEST(ControlSocket, AnswersOneRequestWithItsLinesThenCloses) {
    ScratchFolder scratch{"quib-control"};
    auto socket = ControlSocket::open(scratch.path / "host.sock", echoHandler());
    ASSERT_TRUE(socket) << socket.error().message;
    Client client((*socket)->path());
    ASSERT_TRUE(client.connected());
    client.write(R"({"command":"status"})"
                 "\n");
    const auto lines = client.readAll();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], (Json{{"command", "status"}}));
    EXPECT_EQ(lines[1], (Json{{"ok", true}}));
}

// Idle clients cannot use up the socket: one that says nothing is closed after the deadline,
// and beyond the cap a client is told so at once.
TEST(ControlSocket, ClosesSilentClientsAndTurnsAwayClientsBeyondTheCap) {
    ScratchFolder scratch{"quib-control"};
    auto clock = std::make_shared<FakeClock>();
    auto socket = ControlSocket::open(scratch.path / "host.sock", echoHandler(), clock);
    ASSERT_TRUE(socket) << socket.error().message;
    std::vector<std::unique_ptr<Client>> idle;
    for (std::size_t i = 0; i < ControlSocket::maxConnections; ++i) {
        idle.push_back(std::make_unique<Client>((*socket)->path()));
        ASSERT_TRUE(idle.back()->connected());
    }
    for (int i = 0; i < 500 && clock->pendingTimers() < ControlSocket::maxConnections; ++i)
        std::this_thread::sleep_for(2ms);
    Client turnedAway((*socket)->path());
    const auto refusal = turnedAway.readLine();
    ASSERT_TRUE(refusal);
    EXPECT_EQ(Json::parse(*refusal), (Json{{"error", "The host is serving too many control connections; try again."}}));

    clock->advance(ControlSocket::requestDeadline - 1ms);
    Client answered((*socket)->path());  // still refused: the idle ones hold every slot
    EXPECT_TRUE(answered.readLine().has_value());
    clock->advance(1ms);
    for (auto& client : idle) EXPECT_FALSE(client->readLine().has_value());
    Client later((*socket)->path());
    later.write(R"({"command":"status"})"
                "\n");
    EXPECT_EQ(later.readAll().size(), 2u);
}

TEST(ControlSocket, RefusesARequestThatIsNoJsonObjectOrTooLong) {
    ScratchFolder scratch{"quib-control"};
    std::atomic<int> handled{0};
    auto socket = ControlSocket::open(scratch.path / "host.sock", [&](const Json&, auto reply) {
        ++handled;
        reply->finish();
    });
    ASSERT_TRUE(socket);
    for (const std::string& request : {std::string("status\n"), std::string("[1,2]\n")}) {
        Client client((*socket)->path());
        client.write(request);
        const auto lines = client.readAll();
        ASSERT_EQ(lines.size(), 1u) << request;
        EXPECT_EQ(lines[0], (Json{{"error", "The request is not a JSON object."}}));
    }
    Client client((*socket)->path());
    client.write(std::string(ControlSocket::maxRequestBytes + 10, ' '));
    const auto lines = client.readAll();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], (Json{{"error", "The request is longer than the host accepts."}}));
    EXPECT_EQ(handled.load(), 0);
}

TEST(ControlSocket, IsPrivateAndRefusesASecondHostButReplacesAStaleSocket) {
    ScratchFolder scratch{"quib-control"};
    const fs::path path = scratch.path / "host.sock";
    {
        auto first = ControlSocket::open(path, echoHandler());
        ASSERT_TRUE(first);
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_TRUE(S_ISSOCK(info.st_mode));
        EXPECT_EQ(info.st_mode & 0777, 0600u);

        auto second = ControlSocket::open(path, echoHandler());
        ASSERT_FALSE(second);
        EXPECT_NE(second.error().message.find("already running (pid " + std::to_string(::getpid()) + ")"),
                  std::string::npos)
            << second.error().message;
        EXPECT_EQ(ControlSocket::answeringHost(path), ::getpid());
    }
    EXPECT_EQ(ControlSocket::answeringHost(path), std::nullopt);
    EXPECT_FALSE(fs::exists(path));  // removed on the way out

    // A socket file whose host died without cleaning up.
    {
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    ASSERT_TRUE(fs::exists(path));
    auto third = ControlSocket::open(path, echoHandler());
    ASSERT_TRUE(third) << third.error().message;
    Client client(path);
    client.write(R"({"command":"devices"})"
                 "\n");
    EXPECT_EQ(client.readAll().size(), 2u);

    std::ofstream(scratch.path / "plain") << "not a socket";
    EXPECT_FALSE(ControlSocket::open(scratch.path / "plain", echoHandler()));
}

TEST(ControlSocket, TellsWhenAWatchingClientLeavesAndClosesWatchersOnTheWayOut) {
    ScratchFolder scratch{"quib-control"};
    std::promise<void> closed;
    std::shared_ptr<ControlSocket::Reply> kept;
    std::promise<void> handled;
    auto socket = ControlSocket::open(scratch.path / "host.sock", [&](const Json&, auto reply) {
        reply->setClosedHandler([&] { closed.set_value(); });
        reply->send(Json{{"watching", true}});
        kept = reply;
        handled.set_value();
    });
    ASSERT_TRUE(socket);
    {
        Client client((*socket)->path());
        client.write(R"({"command":"watch"})"
                     "\n");
        EXPECT_EQ(client.readLine(), R"({"watching":true})");
        ASSERT_EQ(handled.get_future().wait_for(10s), std::future_status::ready);
        EXPECT_TRUE(kept->isOpen());
    }
    ASSERT_EQ(closed.get_future().wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(kept->isOpen());
    kept->send(Json{{"activity", "late"}});  // dropped, harmlessly

    // A watcher still connected when the host goes away sees the end of the stream.
    std::shared_ptr<ControlSocket::Reply> second;
    std::promise<void> secondHandled;
    auto other = ControlSocket::open(scratch.path / "other.sock", [&](const Json&, auto reply) {
        second = reply;
        secondHandled.set_value();
    });
    ASSERT_TRUE(other);
    Client watcher((*other)->path());
    watcher.write(R"({"command":"watch"})"
                  "\n");
    ASSERT_EQ(secondHandled.get_future().wait_for(10s), std::future_status::ready);
    other->reset();
    EXPECT_EQ(watcher.readLine(), std::nullopt);
    EXPECT_FALSE(second->isOpen());
    second->send(Json{{"activity", "after the end"}});
}

TEST(ControlSocket, TurnsAwayAnotherUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
    ScratchFolder scratch{"quib-control"};
    ::chmod(scratch.path.c_str(), 0777);
    std::atomic<int> handled{0};
    auto socket = ControlSocket::open(scratch.path / "host.sock", [&](const Json&, auto reply) {
        ++handled;
        reply->fail("should not be reached");
    });
    ASSERT_TRUE(socket);
    ::chmod((*socket)->path().c_str(), 0666);  // only the uid check stands in the way now

    // The child only makes system calls: nothing that could wait on a lock another thread held.
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, (*socket)->path().c_str(), sizeof address.sun_path - 1);
    static const char request[] = "{\"command\":\"status\"}\n";
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ::_exit(4);
        if (::send(fd, request, sizeof request - 1, MSG_NOSIGNAL) < 0) ::_exit(0);  // already cut off
        char answer[64];
        ::_exit(::read(fd, answer, sizeof answer) > 0 ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the other user was answered (1), or could not try (3, 4)";
    EXPECT_EQ(handled.load(), 0);
}

TEST(ControlSocket, LivesInTheRuntimeFolderWhenThereIsOne) {
    const char* previous = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = previous ? previous : "";
    ::setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
    auto inRuntime = ControlSocket::defaultPath();
    ::unsetenv("XDG_RUNTIME_DIR");
    auto fallback = ControlSocket::defaultPath();
    if (previous) ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);

    ASSERT_TRUE(inRuntime);
    EXPECT_EQ(*inRuntime, fs::path("/run/user/4242/quib-host.sock"));
    ASSERT_TRUE(fallback) << fallback.error().message;
    const fs::path folder = fallback->parent_path();
    EXPECT_EQ(folder, fs::path("/tmp") / ("quib-" + std::to_string(::geteuid())));
    struct stat info {};
    ASSERT_EQ(::lstat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

// Without XDG_RUNTIME_DIR, the tool looks where a host of the desktop session listens (the
// user's runtime folder) before the folder a host without one made.
TEST(ControlSocket, IsLookedForInTheUsersRuntimeFolderToo) {
    const fs::path tmp = fs::path("/tmp") / ("quib-" + std::to_string(::geteuid())) / "quib-host.sock";
    struct Case {
        const char* runtime;
        std::vector<fs::path> paths;
    };
    for (const Case& row :
         {Case{"/run/user/4242", {"/run/user/4242/quib-host.sock"}}, Case{nullptr, {"/run/user/7/quib-host.sock", tmp}},
          Case{"relative", {"/run/user/7/quib-host.sock", tmp}}}) {
        EXPECT_EQ(ControlSocket::candidatePaths(row.runtime, "/run/user/7"), row.paths)
            << (row.runtime ? row.runtime : "unset");
    }
}

}  // namespace
}  // namespace quib
