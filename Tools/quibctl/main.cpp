// quibctl: drives a running Quib host through its local control socket, standing in for the
// menu-bar panel where there is none.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "QuibHost/App/ControlCommand.hpp"
#include "QuibHost/App/ControlSocket.hpp"
#include "Runtime/HostWords.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/UnicodeText.hpp"
#include "Shared/Json.hpp"

namespace {

using quib::Json;
using Clock = std::chrono::steady_clock;

// How long a command other than watch waits for the host's whole answer.
constexpr std::chrono::seconds answerTimeout{5};

constexpr std::string_view usageHead =
    "usage: quibctl COMMAND [ARGUMENT...]\n"
    "       quibctl -h|--help|--version\n"
    "Drives the running Quib host of this user. TARGET is a target's id, a unique beginning of it, or\n"
    "its name (quibctl targets lists them).\n";

std::string fullUsage() { return std::string(usageHead) + quib::ControlCommand::usage(); }

// A connected control socket; closed on destruction.
class Connection {
public:
    static std::optional<Connection> open(const std::string& path, std::string& error) {
        Connection connection(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (connection.fd_ < 0 || path.size() >= sizeof address.sun_path) {
            error = "cannot reach the host at " + path;
            return std::nullopt;
        }
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        if (::connect(connection.fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            error = "no Quib host is running (nothing answers at " + path + ")";
            return std::nullopt;
        }
        return connection;
    }
    Connection(Connection&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    ~Connection() {
        if (fd_ >= 0) ::close(fd_);
    }

    bool writeLine(const std::string& line) {
        std::string_view rest = line;
        while (!rest.empty()) {
            const ssize_t n = ::write(fd_, rest.data(), rest.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            rest.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }
    // The next line without its line feed; none at the end of the stream, or once `deadline`
    // has passed (then `timedOut` is set).
    std::optional<std::string> readLine(std::optional<Clock::time_point> deadline, bool& timedOut) {
        for (;;) {
            if (const auto end = buffer_.find('\n'); end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            if (deadline && !waitReadable(*deadline)) {
                timedOut = true;
                return std::nullopt;
            }
            char chunk[4096];
            const ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return std::nullopt;
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

private:
    explicit Connection(int fd) : fd_(fd) {}

    bool waitReadable(Clock::time_point deadline) {
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return false;
            pollfd wanted{fd_, POLLIN, 0};
            const int ready = ::poll(&wanted, 1, static_cast<int>(left));
            if (ready < 0 && errno == EINTR) continue;
            return ready != 0;
        }
    }

    int fd_;
    std::string buffer_;
};

// A text field for printing: control characters in names and messages are shown as escapes,
// so no value can rewrite the terminal or pass for another line.
std::string text(const Json& object, const char* key, const std::string& fallback = "") {
    const auto found = object.find(key);
    return quib::escapeControlCharacters(found != object.end() && found->is_string() ? found->get<std::string>()
                                                                                     : fallback);
}

bool flag(const Json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_boolean() && found->get<bool>();
}

void printStatus(const Json& status) {
    std::cout << "Host: " << text(status, "hostName") << "\n";
    if (flag(status, "listening")) std::cout << "Listening on port " << status.value("port", 0) << "\n";
    else std::cout << "Not listening" << (status.contains("lastError") ? ": " + text(status, "lastError") : "") << "\n";
    std::cout << "Pairing code: " << text(status, "pairingCode") << "\n"
              << "Input from phones: " << (flag(status, "injectionPaused") ? "paused" : "on") << "\n"
              << "Typing and clicking: " << (flag(status, "accessibilityGranted") ? "granted" : "not granted") << "\n"
              << "Window capture: " << (flag(status, "screenRecordingGranted") ? "granted" : "not granted") << "\n"
              << "Phones may listen: " << (flag(status, "audioAllowed") ? "yes" : "no") << "\n"
              << "Launch at login: " << (flag(status, "launchAtLogin") ? "on" : "off") << "\n";
    if (status.contains("loginItemError"))
        std::cout << quib::capitalised<quib::HostWords::autostart>.view() << ": " << text(status, "loginItemError")
                  << "\n";
    std::cout << "Phones connected: " << status.value("connectedDevices", 0) << "\n";
    if (status.contains("lastActivity")) std::cout << "Last activity: " << text(status, "lastActivity") << "\n";
    if (status.contains("session")) std::cout << "Session: " << text(status, "session") << "\n";
    if (status.contains("awayNote")) std::cout << "Away access: " << text(status, "awayNote") << "\n";
}

std::string stateText(const Json& device) {
    const std::string state = text(device, "state");
    if (state == "waiting") return "waiting for approval";
    if (state == "revoked") return "revoked";
    std::string line = flag(device, "connected") ? "approved, connected" : "approved, not connected";
    if (flag(device, "hearing")) line += ", hearing this computer";
    return line;
}

void printDevices(const Json& devices) {
    if (!devices.is_array() || devices.empty()) {
        std::cout << "No phone connected, approved or revoked\n";
        return;
    }
    for (const Json& device : devices)
        std::cout << text(device, "id") << "  " << text(device, "name") << "  (" << stateText(device) << ")\n";
}

void printTargets(const Json& targets) {
    if (!targets.is_array() || targets.empty()) {
        std::cout << "No saved targets\n";
        return;
    }
    for (const Json& target : targets) {
        std::cout << (flag(target, "active") ? "* " : "  ") << text(target, "id") << "  " << text(target, "kind")
                  << "  " << text(target, "name") << "  profile " << text(target, "profile");
        if (flag(target, "active")) std::cout << "  (active)";
        if (flag(target, "unresolved")) std::cout << "  (no live pane)";
        if (flag(target, "provisional")) std::cout << "  (provisional)";
        std::cout << "\n";
    }
}

void printRequests(const Json& requests) {
    if (!requests.is_array() || requests.empty()) {
        std::cout << "No requests waiting\n";
        return;
    }
    for (const Json& request : requests) {
        std::cout << text(request, "id") << "  " << text(request, "targetName") << "  " << text(request, "title")
                  << "  (" << request.value("secondsLeft", 0) << " s left)\n";
    }
}

// One item a line: the status (with its reason when blocked), the note, the detail and the
// reason phones are given when there are any, then each candidate.
void printAway(const Json& away) {
    const std::string status = text(away, "status");
    if (status == "blocked") std::cout << "status: blocked: " << text(away, "reason") << "\n";
    else std::cout << "status: " << status << "\n";
    if (away.contains("note")) std::cout << "note: " << text(away, "note") << "\n";
    if (away.contains("detail")) std::cout << "detail: " << text(away, "detail") << "\n";
    if (away.contains("unavailable")) std::cout << "unavailable: " << text(away, "unavailable") << "\n";
    for (const Json& candidate : away.value("candidates", Json::array())) {
        std::cout << "candidate: " << text(candidate, "display") << " " << text(candidate, "reach") << " "
                  << text(candidate, "via") << "\n";
    }
}

// The panel's lines come ready made, escaped, with tabs between their fields: the fields are
// escaped once more, which changes nothing in a line the host wrote and keeps anything else from
// moving the terminal.
void printLines(const Json& lines) {
    if (!lines.is_array()) return;
    for (const Json& line : lines) {
        if (!line.is_string()) continue;
        const auto& text = line.get_ref<const std::string&>();
        std::size_t start = 0;
        for (std::size_t tab; (tab = text.find('\t', start)) != std::string::npos; start = tab + 1)
            std::cout << quib::escapeControlCharacters(text.substr(start, tab - start)) << '\t';
        std::cout << quib::escapeControlCharacters(text.substr(start)) << "\n";
    }
}

// Prints one reply line; false when it was an error.
bool printReply(const Json& reply, const std::string& command) {
    if (reply.contains("error")) {
        std::cerr << "quibctl: " << text(reply, "error", "the host refused the request") << "\n";
        return false;
    }
    if (reply.contains("activity")) std::cout << text(reply, "activity") << std::endl;
    else if (command == "status" && reply.contains("status")) printStatus(reply["status"]);
    else if (command == "devices") printDevices(reply.value("devices", Json::array()));
    else if (command == "targets" && reply.contains("targets")) printTargets(reply["targets"]);
    else if (command == "targets" && reply.contains("id")) std::cout << text(reply, "id") << "\n";
    else if (command == "requests") printRequests(reply.value("requests", Json::array()));
    else if (command == "away" && reply.contains("away") && reply["away"].is_object()) printAway(reply["away"]);
    else if (command == "push") std::cout << text(reply, "summary") << "\n";
    else if (command == "panel" || command == "settings" || (command == "target" && reply.contains("lines")))
        printLines(reply.value("lines", Json::array()));
    else if (command == "reveal") std::cout << text(reply, "path") << "\n";
    else if (command == "login-item") {
        std::cout << text(reply, "message") << "\n";
        if (reply.contains("loginItemError"))
            std::cout << quib::capitalised<quib::HostWords::autostart>.view() << ": " << text(reply, "loginItemError")
                      << "\n";
    } else if (command == "code" && !reply.contains("message")) std::cout << text(reply, "pairingCode") << "\n";
    else if (reply.contains("message")) std::cout << text(reply, "message") << "\n";
    return true;
}

int converse(Connection& connection, const Json& request) {
    if (!connection.writeLine(request.dump() + "\n")) {
        std::cerr << "quibctl: the host closed the connection\n";
        return 1;
    }
    const std::string command = request["command"].get<std::string>();
    std::optional<Clock::time_point> deadline;
    if (command != "watch") deadline = Clock::now() + answerTimeout;
    int status = 0;
    bool answered = false;
    bool timedOut = false;
    while (auto line = connection.readLine(deadline, timedOut)) {
        const Json reply = Json::parse(*line, nullptr, false);
        if (reply.is_discarded() || !reply.is_object()) continue;
        answered = true;
        if (!printReply(reply, command)) status = 1;
    }
    if (timedOut) {
        std::cerr << "quibctl: the host did not answer within " << answerTimeout.count() << " seconds\n";
        return 1;
    }
    if (!answered) {
        std::cerr << "quibctl: the host closed the connection without an answer\n";
        return 1;
    }
    return status;
}

// -h, --help and help print the usage; --version the version. None: the arguments are a command.
std::optional<int> helpOrVersion(const std::vector<std::string>& args) {
    if (args.size() != 1) return std::nullopt;
    if (args[0] == "-h" || args[0] == "--help" || args[0] == "help") {
        std::cout << fullUsage();
        return 0;
    }
    if (args[0] == "--version" || args[0] == "-V") {
        std::cout << "quibctl " << QUIB_VERSION << "\n";
        return 0;
    }
    return std::nullopt;
}

// Status 2, with the usage of the command the mistake was made in, or the whole usage.
int refuse(const std::vector<std::string>& args) {
    if (args.empty()) {
        std::cerr << "quibctl: no command given\n" << fullUsage();
        return 2;
    }
    const std::string usage = quib::ControlCommand::usageOf(args[0]);
    if (usage.empty()) {
        std::cerr << "quibctl: unknown command: " << quib::escapeControlCharacters(args[0])
                  << " (quibctl --help lists the commands)\n";
        return 2;
    }
    std::cerr << "quibctl: wrong arguments for " << args[0] << "\n" << usage;
    return 2;
}

// The first control socket of this user's host that answers.
std::optional<Connection> connectToHost() {
    const auto paths = quib::ControlSocket::candidatePaths();
    std::string tried;
    for (const auto& path : paths) {
        std::string error;
        if (auto connection = Connection::open(path.string(), error)) return connection;
        tried += (tried.empty() ? "" : " or ") + path.string();
    }
    std::cerr << "quibctl: no Quib host is running (nothing answers at " << tried << ")\n";
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (const auto status = helpOrVersion(args)) return *status;
    const auto request = quib::ControlCommand::requestFor(args);
    if (!request) return refuse(args);
    auto connection = connectToHost();
    if (!connection) return 1;
    return converse(*connection, *request);
}
