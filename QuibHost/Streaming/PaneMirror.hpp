#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Tmux/Tmux.hpp"
#include "QuibHost/Streaming/PaneSource.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/SerialQueue.hpp"
#include "Shared/Instrumentation.hpp"

namespace quib {

// Shows a tmux pane to viewers as text. Ten times a second one tmux run gives the pane's size and
// its visible contents with the escape sequences of colours and attributes; a picture that
// differs from the last one handed on becomes a text frame (columns, rows, the text as payload),
// and a failed run becomes a state frame "tmux: " and tmux's complaint. An idle pane costs one
// tmux run per poll and sends nothing.
//
// Everything runs on the queue "com.brenmoor.quib.host.pane": the polls, one at a time, and the
// frame handler. A poll that takes long (up to tmux's 5 s limit) delays the next one: the next
// poll is due at the first multiple of the interval, counted from the start, after the previous
// one ended, so polls never overlap and never come in a burst.
//
// start and stop take effect at once: a poll still running for an earlier start hands nothing
// on afterwards, so after a switch the first frame is always the new pane's. Its end waits for a
// poll under way, and no frame is handed on after it.
class PaneMirror final : public PaneSource {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    static constexpr std::string_view queueLabel = "com.brenmoor.quib.host.pane";
    static constexpr Duration interval = std::chrono::milliseconds(100);
    // The timing series of the tmux runs, recorded while timing samples are on.
    static constexpr std::string_view sampleSeries = "view_capture_text";

    struct Config {
        FrameHandler onFrame;                        // required
        Tmux tmux;                                   // where tmux is found and how it runs
        std::shared_ptr<Clock> clock = nullptr;      // none: the system clock
        Instrumentation* instrumentation = nullptr;  // none: the shared one
    };

    // What one poll read: the numbers of the size line (columns and rows first) and the text.
    struct Picture {
        std::optional<std::int64_t> columns;
        std::optional<std::int64_t> rows;
        std::vector<std::int64_t> numbers;  // every number of the size line, in order
        std::string text;
        bool operator==(const Picture&) const = default;
    };

    // One poll's work before anything is handed on: the frame of the pane, or of tmux's
    // complaint, with its digest and how long tmux took.
    struct Reading {
        ViewFrame frame;
        Bytes payload;
        std::uint64_t digest = 0;
        Duration ran{0};
    };

    static std::shared_ptr<PaneMirror> create(Config config);
    PaneMirror(Passkey, Config config);
    ~PaneMirror() override;
    PaneMirror(const PaneMirror&) = delete;
    PaneMirror& operator=(const PaneMirror&) = delete;

    void start(std::string pane, std::string title) override;
    void stop() override;
    void invalidate() override;

    // tmux's output read as the size line ("80 24": the numbers among the pieces between blanks)
    // and, after its line feed, the text, every line feed kept.
    static Picture parse(std::string_view output);
    // The one tmux run of a poll: the pane's size on a line of its own, then its contents.
    static std::vector<std::string> arguments(const std::string& pane);
    // Runs tmux once for `pane` and reads what it said into a frame titled `title`.
    static Reading read(const Tmux& tmux, const std::string& pane, const std::string& title, const Clock& clock);

private:
    struct Polling {
        std::uint64_t generation = 0;
        std::string pane;
        std::string title;
        MonoTime origin;
    };

    void begin(Polling polling);
    void pollThenWait(const Polling& polling);
    void poll(const Polling& polling);
    void handOn(const Reading& reading, const Polling& polling);

    const FrameHandler onFrame_;
    const Tmux tmux_;
    const std::shared_ptr<Clock> clock_;
    Instrumentation& instrumentation_;

    Mutex handOverLock_;                                      // held while a frame is handed on
    std::uint64_t generation_ GUARDED_BY(handOverLock_) = 0;  // bumped by every start and stop, and at the end

    // The queue's alone.
    std::optional<std::uint64_t> lastDigest_;
    Cancellable nextPoll_;

    // Last, so that it goes first: its tasks use the mirror, which is therefore only ever let go
    // by its owner, once the poll under way has ended.
    SerialQueue queue_;
};

}  // namespace quib
