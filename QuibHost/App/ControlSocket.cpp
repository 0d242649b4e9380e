#include "QuibHost/App/ControlSocket.hpp"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <istream>
#include <optional>
#include <vector>

#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/post.hpp>
#include <asio/read_until.hpp>
#include <asio/streambuf.hpp>
#include <asio/write.hpp>

#include "Runtime/BoundedJson.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {
namespace fs = std::filesystem;
using Local = asio::local::stream_protocol;

namespace controlsocket {

class Session;

// What the socket's thread serves: the acceptor and the sessions it started.
class Core : public std::enable_shared_from_this<Core> {
public:
    Core(ControlSocket::Handler handler, std::shared_ptr<Clock> clock)
        : handler_(std::move(handler)), clock_(std::move(clock)) {}

    asio::io_context& io() { return io_; }
    Local::acceptor& acceptor() { return acceptor_; }
    const ControlSocket::Handler& handler() const { return handler_; }
    Clock& clock() { return *clock_; }

    // Queues work on the socket's thread unless the socket is shutting down.
    void post(std::function<void()> work) {
        MutexLock lock(mutex_);
        if (!stopped_) asio::post(io_, std::move(work));
    }
    void accept();
    // Refuses new work, then closes the acceptor and every session on the socket's thread.
    void shutDown();

private:
    void adopt(Local::socket socket);
    void backOff(const std::error_code& error);

    asio::io_context io_;
    Local::acceptor acceptor_{io_};
    ControlSocket::Handler handler_;
    std::shared_ptr<Clock> clock_;
    std::optional<Duration> backOff_;  // socket's thread only: set while descriptors run short
    Mutex mutex_;
    bool stopped_ GUARDED_BY(mutex_) = false;
    std::vector<std::weak_ptr<Session>> sessions_;  // socket's thread only
};

// One client: its request line, then the reply lines.
class Session final : public ControlSocket::Reply, public std::enable_shared_from_this<Session> {
public:
    Session(std::shared_ptr<Core> core, Local::socket socket)
        : core_(std::move(core)), socket_(std::move(socket)), input_(ControlSocket::maxRequestBytes) {}

    void start();
    void close();
    // Refuses the client with an error line: too many are being served.
    void turnAway();

    void send(const Json& line) override;
    void finish() override;
    bool isOpen() const override { return !closed_.load(); }
    void setClosedHandler(std::function<void()> handler) override;

private:
    bool peerIsOurUser();
    void armRequestDeadline();
    void requestRead(const std::error_code& error, std::size_t length);
    void watchForHangUp();
    void enqueue(std::string line);
    void writeNext();

    std::shared_ptr<Core> core_;  // declared first: the socket goes before its io context
    Local::socket socket_;
    asio::streambuf input_;
    char scratch_[256];
    std::deque<std::string> outgoing_;
    bool writing_ = false;
    bool finishing_ = false;
    bool requested_ = false;  // the request line has been read
    std::atomic<bool> closed_{false};
    Mutex handlerMutex_;
    std::function<void()> closedHandler_ GUARDED_BY(handlerMutex_);
    bool closedHandled_ GUARDED_BY(handlerMutex_) = false;
};

void Core::accept() {
    acceptor_.async_accept([self = shared_from_this()](const std::error_code& error, Local::socket socket) {
        if (error == asio::error::operation_aborted) return;
        if (error) return self->backOff(error);
        if (self->backOff_) {
            quibLog().info("The control socket takes connections again");
            self->backOff_.reset();
        }
        self->adopt(std::move(socket));
        self->accept();
    });
}

// Whatever failed (no descriptors left, say) would only fail again at once: wait, then go on.
void Core::backOff(const std::error_code& error) {
    using namespace std::chrono_literals;
    if (!backOff_) {
        backOff_ = 100ms;
        quibLog().error("The control socket cannot take connections (", pub(error.message()),
                        "); trying again shortly");
    } else {
        backOff_ = std::min<Duration>(*backOff_ * 2, 1s);
    }
    clock_->scheduleAfter(*backOff_, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->post([self] { self->accept(); });
    });
}

void Core::adopt(Local::socket socket) {
    auto session = std::make_shared<Session>(shared_from_this(), std::move(socket));
    std::erase_if(sessions_, [](const auto& weak) { return weak.expired(); });
    if (sessions_.size() >= ControlSocket::maxConnections) {
        session->turnAway();
        return;
    }
    sessions_.push_back(session);
    session->start();
}

void Core::shutDown() {
    {
        MutexLock lock(mutex_);
        stopped_ = true;
    }
    asio::post(io_, [self = shared_from_this()] {
        std::error_code ignored;
        self->acceptor_.close(ignored);
        for (auto& weak : self->sessions_)
            if (auto session = weak.lock()) session->close();
        self->sessions_.clear();
    });
}

bool Session::peerIsOurUser() {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(socket_.native_handle(), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return false;
    return credentials.uid == ::geteuid();
}

void Session::turnAway() {
    if (!peerIsOurUser()) return close();
    fail("The host is serving too many control connections; try again.");
}

// A client that connects and says nothing is closed, so idle clients cannot use up the slots.
void Session::armRequestDeadline() {
    core_->clock().scheduleAfter(ControlSocket::requestDeadline, [weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) return;
        self->core_->post([self] {
            if (!self->requested_) self->close();
        });
    });
}

void Session::start() {
    if (!peerIsOurUser()) {
        close();
        return;
    }
    armRequestDeadline();
    asio::async_read_until(socket_, input_, '\n',
                           [self = shared_from_this()](const std::error_code& error, std::size_t length) {
                               self->requestRead(error, length);
                           });
}

void Session::requestRead(const std::error_code& error, std::size_t length) {
    if (closed_.load()) return;
    requested_ = true;
    if (error == asio::error::not_found) return fail("The request is longer than the host accepts.");
    if (error) return close();
    std::string line(length, '\0');
    std::istream(&input_).read(line.data(), static_cast<std::streamsize>(length));
    auto request = BoundedJson::parse(line);
    if (!request || !request->is_object()) return fail("The request is not a JSON object.");
    watchForHangUp();
    core_->handler()(*request, shared_from_this());
}

// Reads on after the request only to learn when the client goes away.
void Session::watchForHangUp() {
    socket_.async_read_some(asio::buffer(scratch_),
                            [self = shared_from_this()](const std::error_code& error, std::size_t) {
                                if (error) self->close();
                                else if (!self->closed_.load()) self->watchForHangUp();
                            });
}

void Session::send(const Json& line) {
    if (closed_.load()) return;
    std::string text = line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
    core_->post([self = shared_from_this(), text = std::move(text)]() mutable { self->enqueue(std::move(text)); });
}

void Session::finish() {
    core_->post([self = shared_from_this()] {
        self->finishing_ = true;
        if (!self->writing_) self->writeNext();
    });
}

void Session::enqueue(std::string line) {
    if (closed_.load() || finishing_) return;
    outgoing_.push_back(std::move(line));
    if (!writing_) writeNext();
}

void Session::writeNext() {
    if (closed_.load()) return;
    if (outgoing_.empty()) {
        if (finishing_) close();
        return;
    }
    writing_ = true;
    asio::async_write(socket_, asio::buffer(outgoing_.front()),
                      [self = shared_from_this()](const std::error_code& error, std::size_t) {
                          self->writing_ = false;
                          self->outgoing_.pop_front();
                          if (error) return self->close();
                          self->writeNext();
                      });
}

void Session::close() {
    if (closed_.exchange(true)) return;
    std::error_code ignored;
    socket_.shutdown(Local::socket::shutdown_both, ignored);
    socket_.close(ignored);
    std::function<void()> handler;
    {
        MutexLock lock(handlerMutex_);
        closedHandled_ = true;
        handler = std::exchange(closedHandler_, nullptr);
    }
    if (handler) handler();
}

void Session::setClosedHandler(std::function<void()> handler) {
    {
        MutexLock lock(handlerMutex_);
        if (!closedHandled_) {
            closedHandler_ = std::move(handler);
            return;
        }
    }
    if (handler) handler();
}

}  // namespace controlsocket

namespace {

Error errnoError(const std::string& what) { return fail(what + ": " + std::strerror(errno)); }

// A folder only the user may enter: made when missing, refused when it is someone else's, a
// symbolic link, or open to others.
Result<void> ensurePrivateFolder(const fs::path& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return errnoError("Cannot make " + folder.string());
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) return errnoError("Cannot inspect " + folder.string());
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0)
        return fail(folder.string() + " is not a private folder of this user; the control socket needs one.");
    return {};
}

fs::path socketIn(const fs::path& folder) { return folder / "quib-host.sock"; }

fs::path tmpFolder() { return fs::path("/tmp") / ("quib-" + std::to_string(::geteuid())); }

// Clears the way for a new socket at `path`: a stale socket file is removed.
Result<void> clearStaleSocket(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return {};
    if (!S_ISSOCK(info.st_mode)) return fail(path.string() + " exists and is not a socket.");
    if (const auto pid = ControlSocket::answeringHost(path))
        return fail("Another Quib host is already running (pid " + std::to_string(*pid) + "); its control socket is " +
                    path.string());
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return errnoError("Cannot remove " + path.string());
    return {};
}

Result<void> listenAt(Local::acceptor& acceptor, const fs::path& path) {
    std::error_code error;
    const Local::endpoint endpoint(path.string());
    acceptor.open(endpoint.protocol(), error);
    if (!error) acceptor.bind(endpoint, error);
    if (error) return fail("Cannot listen at " + path.string() + ": " + error.message());
    // The folder already keeps others out; the mode says the same on the socket itself.
    if (::chmod(path.c_str(), 0600) != 0) return errnoError("Cannot restrict " + path.string());
    acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error) return fail("Cannot listen at " + path.string() + ": " + error.message());
    return {};
}

}  // namespace

Result<fs::path> ControlSocket::defaultPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') return socketIn(runtime);
    const fs::path folder = tmpFolder();
    if (auto made = ensurePrivateFolder(folder); !made) return made.error();
    return socketIn(folder);
}

std::vector<fs::path> ControlSocket::candidatePaths(const char* runtimeDirectory, const fs::path& userRuntime) {
    if (runtimeDirectory != nullptr && runtimeDirectory[0] == '/') return {socketIn(runtimeDirectory)};
    return {socketIn(userRuntime), socketIn(tmpFolder())};
}

std::vector<fs::path> ControlSocket::candidatePaths() {
    return candidatePaths(std::getenv("XDG_RUNTIME_DIR"), fs::path("/run/user") / std::to_string(::geteuid()));
}

// The kernel keeps the credentials of the process that made the listening socket.
std::optional<pid_t> ControlSocket::answeringHost(const fs::path& path) {
    asio::io_context io;
    Local::socket probe(io);
    std::error_code error;
    probe.connect(Local::endpoint(path.string()), error);
    if (error) return std::nullopt;
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(probe.native_handle(), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return pid_t{0};
    return credentials.pid;
}

Result<std::unique_ptr<ControlSocket>> ControlSocket::open(const fs::path& path, Handler handler,
                                                           std::shared_ptr<Clock> clock) {
    if (path.string().size() >= sizeof(sockaddr_un{}.sun_path))
        return fail("The control socket's path is too long: " + path.string());
    if (auto cleared = clearStaleSocket(path); !cleared) return cleared.error();
    auto core = std::make_shared<controlsocket::Core>(std::move(handler), std::move(clock));
    if (auto listening = listenAt(core->acceptor(), path); !listening) return listening.error();
    core->accept();
    return std::make_unique<ControlSocket>(Passkey{}, path, std::move(core));
}

ControlSocket::ControlSocket(Passkey, fs::path path, std::shared_ptr<controlsocket::Core> core)
    : path_(std::move(path)), core_(std::move(core)) {
    thread_.emplace("com.brenmoor.quib.host.control", [core = core_] { core->io().run(); });
}

ControlSocket::~ControlSocket() {
    core_->shutDown();
    if (thread_) thread_->join();
    ::unlink(path_.c_str());
}

}  // namespace quib
