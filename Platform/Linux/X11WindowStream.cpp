#include "Platform/Linux/X11WindowStream.hpp"

#include <sys/eventfd.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

#include "Platform/FileDescriptor.hpp"
#include "Platform/Linux/X11EventWait.hpp"
#include "Platform/WorkerThread.hpp"

namespace quib {

// What the stream's thread works with. The thread holds it until it ends, so the stream (and
// whoever stops it) never waits for the thread.
struct X11WindowStream::Loop {
    using Done = std::function<void(Result<void>)>;

    Loop(std::unique_ptr<X11WindowFrames> frames, std::shared_ptr<Executor> executor, Handlers handlers,
         std::shared_ptr<Clock> clock, int wake)
        : frames(std::move(frames)),
          executor(std::move(executor)),
          handlers(std::make_shared<const Handlers>(std::move(handlers))),
          clock(std::move(clock)),
          wake(wake) {}

    // Only the thread touches `frames`, and only until it ends.
    std::unique_ptr<X11WindowFrames> frames;
    const std::shared_ptr<Executor> executor;
    const std::shared_ptr<const Handlers> handlers;
    const std::shared_ptr<Clock> clock;
    const FileDescriptor wake;  // readable once the stream is to stop
    std::atomic<bool> wantsPicture{false};

    std::mutex mutex;  // guards the three below
    std::optional<Configuration> pending;
    std::vector<Done> updated;
    bool stopping = false;

    std::unique_ptr<WorkerThread> thread;

    void run();
    bool isStopping();
    void requestStop();
    void takeUpdate();
    bool sleepUntil(MonoTime deadline);
    void finish(bool lost);
    void post(std::function<void()> task) { executor->post(std::move(task)); }
};

namespace {

// The first deadline of the period's grid that is still ahead.
MonoTime nextDeadline(MonoTime previous, MonoTime now) {
    MonoTime next = previous + X11WindowStream::tickPeriod;
    if (next <= now) next += X11WindowStream::tickPeriod * ((now - next) / X11WindowStream::tickPeriod + 1);
    return next;
}

}  // namespace

void X11WindowStream::Loop::run() {
    MonoTime deadline = clock->now();
    bool lost = false;
    while (!isStopping()) {
        takeUpdate();
        if (wantsPicture.exchange(false)) frames->requestPicture();
        auto tick = frames->tick(clock->now());
        if (tick.connectionLost) {
            lost = true;
            break;
        }
        if (tick.sample) {
            post([handlers = handlers, sample = std::move(*tick.sample)] {
                if (handlers->sample) handlers->sample(sample);
            });
        }
        deadline = nextDeadline(deadline, clock->now());
        if (!sleepUntil(deadline)) {
            lost = frames->connection()->isGone();
            break;
        }
    }
    finish(lost);
}

bool X11WindowStream::Loop::isStopping() {
    std::lock_guard lock(mutex);
    return stopping;
}

void X11WindowStream::Loop::requestStop() {
    {
        std::lock_guard lock(mutex);
        if (stopping) return;
        stopping = true;
    }
    const std::uint64_t one = 1;
    (void)!::write(wake.get(), &one, sizeof one);
}

// Each answer goes out before the first sample taken with the new configuration.
void X11WindowStream::Loop::takeUpdate() {
    std::optional<Configuration> configuration;
    std::vector<Done> answers;
    {
        std::lock_guard lock(mutex);
        configuration = std::exchange(pending, std::nullopt);
        answers = std::exchange(updated, {});
    }
    if (configuration) frames->configure(*configuration);
    for (auto& done : answers) {
        post([done = std::move(done)] {
            if (done) done(Result<void>{});
        });
    }
}

// Events that come meanwhile are handled as they come, so that a busy window's do not pile up.
// False once the stream is to stop or the server has gone.
bool X11WindowStream::Loop::sleepUntil(MonoTime deadline) {
    for (;;) {
        const MonoTime now = clock->now();
        if (now >= deadline) return true;
        if (isStopping()) return false;
        const auto limit = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        bool events = false;
        const bool alive = frames->connection()->use(
            [&](Display* display) { events = X11EventWait::forEvents(display, limit, wake.get()); });
        if (!alive || (events && !frames->handleEvents())) return false;
    }
}

// The window is let go and the connection closed here, on the stream's own thread.
void X11WindowStream::Loop::finish(bool lost) {
    frames.reset();
    std::vector<Done> answers;
    {
        std::lock_guard lock(mutex);
        stopping = true;
        answers = std::exchange(updated, {});
    }
    for (auto& done : answers) {
        post([done = std::move(done)] {
            if (done) done(fail("the stream has stopped"));
        });
    }
    if (lost) {
        post([handlers = handlers] {
            if (handlers->stopped) handlers->stopped(std::string(serverGone));
        });
    }
}

Result<std::shared_ptr<X11WindowStream>> X11WindowStream::open(const std::string& displayName, std::uint32_t window,
                                                               const Configuration& configuration,
                                                               std::shared_ptr<Executor> executor, Handlers handlers,
                                                               Options options) {
    auto connection = X11Connection::open(displayName);
    if (!connection) return fail("the X display cannot be opened");
    auto frames = X11WindowFrames::open(std::move(connection), window, configuration, options.frames);
    if (!frames) return frames.error();
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) return fail("the stream cannot be started");
    auto clock = options.clock ? std::move(options.clock) : SystemClock::shared();
    auto loop = std::make_shared<Loop>(std::move(frames).value(), std::move(executor), std::move(handlers),
                                       std::move(clock), wake);
    loop->thread = std::make_unique<WorkerThread>([loop] { loop->run(); });
    return std::make_shared<X11WindowStream>(Passkey{}, std::move(loop));
}

X11WindowStream::X11WindowStream(Passkey, std::shared_ptr<Loop> loop) : loop_(std::move(loop)) {}

X11WindowStream::~X11WindowStream() { loop_->requestStop(); }

void X11WindowStream::update(const Configuration& configuration, std::function<void(Result<void>)> done) {
    std::lock_guard lock(loop_->mutex);
    if (loop_->stopping) {
        loop_->post([done = std::move(done)] {
            if (done) done(fail("the stream has stopped"));
        });
        return;
    }
    loop_->pending = configuration;
    loop_->updated.push_back(std::move(done));
}

void X11WindowStream::requestFrame() { loop_->wantsPicture.store(true); }

void X11WindowStream::stop() { loop_->requestStop(); }

}  // namespace quib
