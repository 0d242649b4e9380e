#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Platform/Linux/X11/X11WindowFrames.hpp"
#include "Platform/WindowStream.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Executor.hpp"
#include "Runtime/Result.hpp"
#include "Runtime/WorkerThread.hpp"

namespace quib {

// A running capture of one X window, on a thread and a connection of its own.
//
// It takes what X11WindowFrames gives when GrabPacing says, at most one picture every 1/60 s:
// a change (the window's damage) after a quiet spell is taken at once (once its drawing has
// settled), changes that come faster are gathered into the next picture allowed, and without news it looks every 1/60 s, for the
// cursor. It sleeps between, waking for the server's events so that they never pile up. Each
// look delivers one sample: a picture with status complete (new content), started (the stream's
// first picture) or idle (asked for, nothing new), or idle without a picture. While the window
// is unmapped nothing is delivered (its minimising is the window source's to tell). When it is
// destroyed the stream says so (`gone`) and ends: X hands its number out again, often at once.
// Only the loss of the X server stops the stream as a failure ("the X server closed the
// connection").
//
// A new configuration, and a wish for a picture, are taken at once (within the pace), and a
// configuration is never refused. Stopping returns at once; the thread then un-redirects the
// window, frees what it holds and closes its connection.
// Dropping the stream stops it and lets the thread finish alone (the process waits for it at
// exit), so samples may still arrive after either; the handlers must allow for that.
class X11WindowStream final : public WindowStream {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    struct Options {
        X11WindowFrames::Options frames;
        std::shared_ptr<Clock> clock;  // none: the system clock
    };

    // The shortest time between two pictures, and between two looks without news: 1/60 s,
    // rounded up, so that no second holds more than 60.
    static constexpr Duration tickPeriod = std::chrono::nanoseconds((1'000'000'000 + 59) / 60);
    // A change is taken once the window has been still for `settle`, but at most `settleCap` after
    // it began: an app's drawing of one change often takes several requests, and a full-screen
    // one can take ten milliseconds. The cap stays under `tickPeriod`, so pacing is unchanged.
    static constexpr Duration settle = std::chrono::milliseconds(1);
    static constexpr Duration settleCap = std::chrono::milliseconds(12);
    static_assert(settleCap < tickPeriod);
    static constexpr std::string_view serverGone = "the X server closed the connection";

    // Opens a connection to `displayName` and starts capturing `window` there. Fails, in a
    // sentence, when the display does not open or the window cannot be captured.
    static Result<std::shared_ptr<X11WindowStream>> open(const std::string& displayName, std::uint32_t window,
                                                         const Configuration& configuration,
                                                         std::shared_ptr<Executor> executor, Handlers handlers,
                                                         Options options);

    struct Control;
    X11WindowStream(Passkey, std::shared_ptr<Control> control, std::unique_ptr<WorkerThread> thread);
    ~X11WindowStream() override;
    X11WindowStream(const X11WindowStream&) = delete;
    X11WindowStream& operator=(const X11WindowStream&) = delete;

    void update(const Configuration& configuration, std::function<void(Result<void>)> done) override;
    void requestFrame() override;
    void stop() override;

private:
    struct Loop;
    std::shared_ptr<Control> control_;
    std::unique_ptr<WorkerThread> thread_;
};

}  // namespace quib
