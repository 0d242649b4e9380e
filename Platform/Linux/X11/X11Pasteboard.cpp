#include "Platform/Linux/X11/X11Pasteboard.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <future>

#include "Runtime/Logger.hpp"

namespace quib {
namespace {

// One call's answer, handed from the clipboard's thread to the caller.
template <class Result>
struct Reply {
    Mutex mutex;
    std::condition_variable answered;
    bool done GUARDED_BY(mutex) = false;
    std::optional<Result> value GUARDED_BY(mutex);

    void set(std::optional<Result> result) {
        MutexLock lock(mutex);
        value = std::move(result);
        done = true;
        answered.notify_all();
    }
    std::optional<Result> wait(std::chrono::milliseconds limit) {
        UniqueLock lock(mutex);
        if (!answered.wait_for(lock.native(), limit, [this]() REQUIRES(mutex) { return done; })) return std::nullopt;
        return std::move(value);
    }
};

}  // namespace

std::shared_ptr<X11Pasteboard> X11Pasteboard::open(const std::string& displayName, std::size_t readLimit) {
    return open(displayName, readLimit, "CLIPBOARD", "com.brenmoor.quib.host.clipboard");
}

std::shared_ptr<X11Pasteboard> X11Pasteboard::openPrimary(const std::string& displayName) {
    return open(displayName, X11SelectionReader::readLimit, "PRIMARY", "com.brenmoor.quib.host.primary");
}

std::shared_ptr<X11Pasteboard> X11Pasteboard::open(const std::string& displayName, std::size_t readLimit,
                                                   const char* selection, std::string_view label) {
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
    auto pasteboard = std::make_shared<X11Pasteboard>(Passkey{}, wake[0], wake[1]);
    auto opened = std::make_shared<std::promise<bool>>();
    auto ready = opened->get_future();
    auto* raw = pasteboard.get();
    pasteboard->thread_.emplace(label, [raw, displayName, readLimit, selection, opened] {
        raw->run(displayName, readLimit, selection, [&opened](bool ok) { opened->set_value(ok); });
    });
    if (!ready.get()) return nullptr;
    return pasteboard;
}

X11Pasteboard::X11Pasteboard(Passkey, int wakeRead, int wakeWrite) : wakeRead_(wakeRead), wakeWrite_(wakeWrite) {}

X11Pasteboard::~X11Pasteboard() {
    {
        MutexLock lock(mutex_);
        stopping_ = true;
    }
    (void)wakeWrite_.writeAll("x");
    if (thread_) thread_->join();
}

std::int64_t X11Pasteboard::changeCount() {
    return call<std::int64_t>([](X11Clipboard& clipboard) { return clipboard.changeCount(); }).value_or(count_.load());
}

std::vector<PasteboardItem> X11Pasteboard::items() {
    return call<std::vector<PasteboardItem>>([](X11Clipboard& clipboard) { return clipboard.snapshot(); })
        .value_or(std::vector<PasteboardItem>{});
}

void X11Pasteboard::clear() { write({}); }

void X11Pasteboard::write(std::vector<PasteboardItem> items) {
    auto shared = std::make_shared<const std::vector<PasteboardItem>>(std::move(items));
    (void)call<bool>([shared](X11Clipboard& clipboard) {
        clipboard.write(*shared);
        return true;
    });
}

template <class Result>
std::optional<Result> X11Pasteboard::call(std::function<Result(X11Clipboard&)> body) {
    auto reply = std::make_shared<Reply<Result>>();
    const bool posted = post([reply, body = std::move(body)](X11Clipboard* clipboard) {
        reply->set(clipboard ? std::optional<Result>(body(*clipboard)) : std::nullopt);
    });
    if (!posted) return std::nullopt;
    return reply->wait(callLimit);
}

bool X11Pasteboard::post(Request request) {
    {
        MutexLock lock(mutex_);
        if (stopping_ || gone_.load()) return false;
        requests_.push_back(std::move(request));
    }
    return wakeWrite_.writeAll("x");
}

void X11Pasteboard::run(const std::string& displayName, std::size_t readLimit, const char* selection,
                        std::function<void(bool)> opened) {
    auto clipboard = X11Clipboard::open(displayName, readLimit, selection);
    if (clipboard) ownerNotices_.store(clipboard->hasOwnerNotices());
    else gone_.store(true);
    opened(clipboard != nullptr);
    if (!clipboard) return;
    serve(*clipboard);
    if (clipboard->isGone()) quibLog().error("x11: the clipboard's connection to the X server was lost");
    {
        MutexLock lock(mutex_);
        gone_.store(true);
    }
    failRequests();
}

// Each request first catches up with the server, so that a change another client made before
// it is counted before it.
void X11Pasteboard::serve(X11Clipboard& clipboard) {
    std::deque<Request> taken;
    for (;;) {
        if (!clipboard.pump()) return;
        if (!takeRequests(taken)) return;
        while (!taken.empty()) {
            Request request = std::move(taken.front());
            taken.pop_front();
            request(clipboard.catchUp() ? &clipboard : nullptr);
            count_.store(clipboard.changeCount());
        }
        if (clipboard.isGone()) return;
        sleepUntilWork(clipboard);
    }
}

bool X11Pasteboard::takeRequests(std::deque<Request>& taken) {
    MutexLock lock(mutex_);
    if (stopping_) return false;
    taken.swap(requests_);
    return true;
}

// Until the server sends something, a request comes, or a stalled requestor's time is up.
void X11Pasteboard::sleepUntilWork(X11Clipboard& clipboard) {
    std::optional<std::chrono::milliseconds> limit;
    if (const auto next = clipboard.nextDeadline()) {
        limit = std::chrono::ceil<std::chrono::milliseconds>(*next - std::chrono::steady_clock::now());
    }
    clipboard.sleepUntilEvents(limit, wakeRead_.get());
    char drained[64];
    while (::read(wakeRead_.get(), drained, sizeof drained) > 0) {}
}

// Callers still waiting hear at once that nothing will be done.
void X11Pasteboard::failRequests() {
    std::deque<Request> left;
    {
        MutexLock lock(mutex_);
        left.swap(requests_);
    }
    for (auto& request : left) request(nullptr);
}

}  // namespace quib
