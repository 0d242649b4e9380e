#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include "Runtime/Clock.hpp"
#include "Runtime/Result.hpp"
#include "Runtime/WorkerThread.hpp"
#include "Shared/Json.hpp"

namespace quib {

namespace controlsocket {
class Core;
}

// The local door through which `quibctl` stands in for the menu-bar panel: a Unix stream socket
// that only the user running the host may use (the socket is 0600 in a folder of the user's own,
// and every peer's uid is checked). A client writes one JSON request line; the host answers
// with one or more JSON lines and closes, or keeps writing until the client leaves (`watch`).
//
// Connections are served on the socket's own thread. The handler is called there and must only
// hand the request on (to the main loop); it answers through the Reply, from any thread.
//
// At most maxConnections are served at once (more are told so and closed); a client that has
// not written its request line within requestDeadline is closed; when the process runs out of
// descriptors, accepting pauses (100 ms, doubling to 1 s) and goes on. Times come from the
// clock given to open().
class ControlSocket {
    // Only the class's own factories can make this key, so construction goes through them.
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    ControlSocket(Passkey, std::filesystem::path path, std::shared_ptr<controlsocket::Core> core);
    // The answer side of one request. Safe from any thread; once the client has gone or the
    // reply has finished, further lines are dropped.
    class Reply {
    public:
        virtual ~Reply() = default;
        // Writes one JSON line.
        virtual void send(const Json& line) = 0;
        // Writes the line queued so far, then closes the connection.
        virtual void finish() = 0;
        // Sends an error line and closes.
        void fail(const std::string& message) {
            send(Json{{"error", message}});
            finish();
        }
        // Sends the answer, marked "ok", and closes.
        void answer(Json line) {
            line["ok"] = true;
            send(line);
            finish();
        }
        virtual bool isOpen() const = 0;
        // Called once when the connection ends for any reason: on the socket's thread, or at once
        // on the caller's when it has already ended.
        virtual void setClosedHandler(std::function<void()> handler) = 0;
    };
    using Handler = std::function<void(const Json& request, std::shared_ptr<Reply> reply)>;
    // A request's text field; empty when it is missing or not a text.
    static std::string stringField(const Json& request, const char* key) {
        const auto found = request.find(key);
        return found != request.end() && found->is_string() ? found->get<std::string>() : std::string();
    }

    // The longest request line taken; a longer one is refused.
    static constexpr std::size_t maxRequestBytes = 64 * 1024;
    static constexpr std::size_t maxConnections = 16;
    static constexpr std::chrono::seconds requestDeadline{5};

    // Where the host listens: "quib-host.sock" in $XDG_RUNTIME_DIR, or, when that is unset, in a
    // 0700 folder of the user's own under /tmp ("quib-<uid>"), made when missing. Fails when that
    // folder belongs to someone else or others may enter it.
    static Result<std::filesystem::path> defaultPath();
    // Every place a host of this user may listen, the likeliest first: $XDG_RUNTIME_DIR's socket
    // when that is set; otherwise the one in the user's runtime folder (`userRuntime`, a host
    // started in the desktop session has it as $XDG_RUNTIME_DIR), then the /tmp one. Nothing is
    // made.
    static std::vector<std::filesystem::path> candidatePaths(const char* runtimeDirectory,
                                                             const std::filesystem::path& userRuntime);
    // The same for this process: its XDG_RUNTIME_DIR and /run/user/<uid>.
    static std::vector<std::filesystem::path> candidatePaths();
    // The process id of a host that answers on `path`, as the kernel gives it; none when nothing
    // answers there.
    static std::optional<pid_t> answeringHost(const std::filesystem::path& path);

    // Listens at `path`. A socket file left behind by a host that is gone is replaced; one that
    // a running host answers on is not ("already running").
    static Result<std::unique_ptr<ControlSocket>> open(const std::filesystem::path& path, Handler handler,
                                                       std::shared_ptr<Clock> clock = SystemClock::shared());

    // Stops serving, closes every connection and removes the socket file.
    ~ControlSocket();
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::shared_ptr<controlsocket::Core> core_;
    std::optional<WorkerThread> thread_;
};

}  // namespace quib
