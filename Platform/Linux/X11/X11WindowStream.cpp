#include "Platform/Linux/X11/X11WindowStream.hpp"

#include <sys/eventfd.h>

#include <atomic>
#include <optional>
#include <vector>

#include "Platform/Linux/X11/X11EventWait.hpp"
#include "Runtime/FileDescriptor.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/WorkerThread.hpp"

namespace quib {

// What the stream and its thread share: the requests for the thread, and where its answers go.
struct X11WindowStream::Control {
    using Done = std::function<void(Result<void>)>;

    Control(std::shared_ptr<Executor> executor, Handlers handlers, int wake)
        : executor(std::move(executor)), handlers(std::make_shared<const Handlers>(std::move(handlers))), wake(wake) {}

    const std::shared_ptr<Executor> executor;
    const std::shared_ptr<const Handlers> handlers;
    const FileDescriptor wake;  // readable once the stream is to stop
    std::atomic<bool> wantsPicture{false};

    Mutex mutex;  // guards the three below
    std::optional<Configuration> pending GUARDED_BY(mutex);
    std::vector<Done> updated GUARDED_BY(mutex);
    bool stopping GUARDED_BY(mutex) = false;

    bool isStopping() {
        MutexLock lock(mutex);
        return stopping;
    }
    void requestStop() {
        {
            MutexLock lock(mutex);
            if (stopping) return;
            stopping = true;
        }
        const std::uint64_t one = 1;
        (void)!::write(wake.get(), &one, sizeof one);
    }
    void answer(Done done, Result<void> outcome) {
        executor->post([done = std::move(done), outcome = std::move(outcome)] {
            if (done) done(outcome);
        });
    }
    void finish(std::unique_ptr<X11WindowFrames> frames, bool lost);
};

// The thread's own.
struct X11WindowStream::Loop {
    std::shared_ptr<Control> control;
    std::unique_ptr<X11WindowFrames> frames;
    std::shared_ptr<Clock> clock;

    // Ticks until the stream is to stop or the server goes; true when it went.
    bool run();
    void takeUpdate();
    bool sleepUntil(MonoTime deadline);
};

namespace {

// The first deadline of the period's grid that is still ahead.
MonoTime nextDeadline(MonoTime previous, MonoTime now) {
    MonoTime next = previous + X11WindowStream::tickPeriod;
    if (next <= now) next += X11WindowStream::tickPeriod * ((now - next) / X11WindowStream::tickPeriod + 1);
    return next;
}

}  // namespace

bool X11WindowStream::Loop::run() {
    MonoTime deadline = clock->now();
    while (!control->isStopping()) {
        takeUpdate();
        if (control->wantsPicture.exchange(false)) frames->requestPicture();
        auto tick = frames->tick(clock->now());
        if (tick.connectionLost) return true;
        if (tick.windowGone) {
            control->executor->post([handlers = control->handlers] {
                if (handlers->gone) handlers->gone();
            });
            return false;
        }
        if (tick.sample) {
            control->executor->post([handlers = control->handlers, sample = std::move(*tick.sample)] {
                if (handlers->sample) handlers->sample(sample);
            });
        }
        deadline = nextDeadline(deadline, clock->now());
        if (!sleepUntil(deadline)) return frames->connection()->isGone();
    }
    return false;
}

// Each answer goes out before the first sample taken with the new configuration.
void X11WindowStream::Loop::takeUpdate() {
    std::optional<Configuration> configuration;
    std::vector<Control::Done> answers;
    {
        MutexLock lock(control->mutex);
        configuration = std::exchange(control->pending, std::nullopt);
        answers = std::exchange(control->updated, {});
    }
    if (configuration) frames->configure(*configuration);
    for (auto& done : answers) control->answer(std::move(done), {});
}

// Events that come meanwhile are handled as they come, so that a busy window's do not pile up.
// False once the stream is to stop or the server has gone.
bool X11WindowStream::Loop::sleepUntil(MonoTime deadline) {
    for (;;) {
        const MonoTime now = clock->now();
        if (now >= deadline) return true;
        if (control->isStopping()) return false;
        const auto limit = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        bool events = false;
        const bool alive = frames->connection()->use(
            [&](Display* display) { events = X11EventWait::forEvents(display, limit, control->wake.get()); });
        if (!alive || (events && !frames->handleEvents())) return false;
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
    auto control = std::make_shared<Control>(std::move(executor), std::move(handlers), wake);
    auto loop = std::make_shared<Loop>();
    loop->control = control;
    loop->frames = std::move(frames).value();
    loop->clock = options.clock ? std::move(options.clock) : SystemClock::shared();
    auto thread = std::make_unique<WorkerThread>("com.brenmoor.quib.host.capture.grab", [loop = std::move(loop)] {
        const bool lost = loop->run();
        loop->control->finish(std::move(loop->frames), lost);
    });
    return std::make_shared<X11WindowStream>(Passkey{}, std::move(control), std::move(thread));
}

// The end of a stream's thread: the window is let go and the connection closed here; updates
// still waiting are answered, and the server's loss reported.
void X11WindowStream::Control::finish(std::unique_ptr<X11WindowFrames> frames, bool lost) {
    frames.reset();
    std::vector<Done> answers;
    {
        MutexLock lock(mutex);
        stopping = true;
        answers = std::exchange(updated, {});
    }
    for (auto& done : answers) answer(std::move(done), fail("the stream has stopped"));
    if (lost) {
        executor->post([handlers = handlers] {
            if (handlers->stopped) handlers->stopped(std::string(serverGone));
        });
    }
}

X11WindowStream::X11WindowStream(Passkey, std::shared_ptr<Control> control, std::unique_ptr<WorkerThread> thread)
    : control_(std::move(control)), thread_(std::move(thread)) {}

// The thread finishes alone: the process waits for it at exit, nobody else.
X11WindowStream::~X11WindowStream() {
    control_->requestStop();
    thread_->letGo();
}

void X11WindowStream::update(const Configuration& configuration, std::function<void(Result<void>)> done) {
    MutexLock lock(control_->mutex);
    if (control_->stopping) {
        control_->answer(std::move(done), fail("the stream has stopped"));
        return;
    }
    control_->pending = configuration;
    control_->updated.push_back(std::move(done));
}

void X11WindowStream::requestFrame() { control_->wantsPicture.store(true); }

void X11WindowStream::stop() { control_->requestStop(); }

}  // namespace quib
