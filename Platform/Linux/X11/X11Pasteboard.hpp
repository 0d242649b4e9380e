#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Linux/X11/X11Clipboard.hpp"
#include "Platform/Pasteboard.hpp"
#include "Runtime/FileDescriptor.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/WorkerThread.hpp"

namespace quib {

// The pasteboard of an X display: its CLIPBOARD selection, which the host owns itself while it
// holds something there.
//
// A thread of its own, with a connection of its own, makes every X call (see X11Clipboard);
// between calls it answers the other clients' requests. The calls of the pasteboard are handed
// to that thread and waited for, each at most `callLimit`. Once the X server is gone the
// pasteboard reads as empty, writes change nothing, and the count stands still.
//
// The contents of a selection live in the client that owns it: what the host put on the
// clipboard lasts only as long as the host runs.
class X11Pasteboard final : public Pasteboard {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    // Longer than the slowest call, reading another owner's contents.
    static constexpr std::chrono::seconds callLimit{5};

    // None when `displayName` (empty: $DISPLAY) does not open. Reading another app's contents
    // keeps at most `readLimit` bytes: an app that offers more reads as an empty pasteboard.
    static std::shared_ptr<X11Pasteboard> open(const std::string& displayName = {},
                                               std::size_t readLimit = X11SelectionReader::readLimit);
    // The same for the PRIMARY selection, which some terminals paste by default.
    static std::shared_ptr<X11Pasteboard> openPrimary(const std::string& displayName = {});

    X11Pasteboard(Passkey, int wakeRead, int wakeWrite);
    // Stops the thread; what the host owned on the clipboard goes with it.
    ~X11Pasteboard() override;
    X11Pasteboard(const X11Pasteboard&) = delete;
    X11Pasteboard& operator=(const X11Pasteboard&) = delete;

    std::int64_t changeCount() override;
    std::vector<PasteboardItem> items() override;
    void clear() override;
    void write(std::vector<PasteboardItem> items) override;

    // The X server went away (or the clipboard never opened).
    bool isGone() const { return gone_.load(); }
    // Whether XFixes tells the host of other clients' changes.
    bool hasOwnerNotices() const { return ownerNotices_.load(); }

private:
    // Runs on the clipboard's thread; with none when the clipboard is gone.
    using Request = std::function<void(X11Clipboard*)>;

    template <class Result>
    std::optional<Result> call(std::function<Result(X11Clipboard&)> body);
    bool post(Request request);
    static std::shared_ptr<X11Pasteboard> open(const std::string& displayName, std::size_t readLimit,
                                               const char* selection, std::string_view label);
    void run(const std::string& displayName, std::size_t readLimit, const char* selection,
             std::function<void(bool)> opened);
    void serve(X11Clipboard& clipboard);
    // The requests posted so far; none, and false, once the pasteboard is stopping.
    bool takeRequests(std::deque<Request>& taken);
    void sleepUntilWork(X11Clipboard& clipboard);
    void failRequests();

    FileDescriptor wakeRead_;
    FileDescriptor wakeWrite_;
    Mutex mutex_;  // guards the two below
    std::deque<Request> requests_ GUARDED_BY(mutex_);
    bool stopping_ GUARDED_BY(mutex_) = false;
    std::atomic<bool> gone_{false};
    std::atomic<bool> ownerNotices_{false};
    std::atomic<std::int64_t> count_{0};
    std::optional<WorkerThread> thread_;
};

}  // namespace quib
