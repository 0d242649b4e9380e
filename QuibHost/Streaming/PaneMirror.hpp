#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Tmux/Tmux.hpp"
#include "Platform/Tmux/TmuxControl.hpp"
#include "QuibHost/Streaming/PaneMirrorMarks.hpp"
#include "QuibHost/Streaming/PaneSource.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/SerialQueue.hpp"
#include "Shared/Instrumentation.hpp"

namespace quib {

// Shows a tmux pane to viewers as text. Ten times a second a poll looks at the pane: one pair of
// tmux commands gives the pane's size and its visible contents with the escape sequences of
// colours and attributes; a picture that differs from the last one handed on becomes a text
// frame (columns, rows, the text as payload), and a failure becomes a state frame "tmux: " and
// tmux's complaint.
//
// The pair goes through the kept control client when there is one, so that a poll starts no
// process; when the client cannot answer it whole (it is not there, it ended or fell silent, its
// answer does not add up, or tmux refused a command), the poll runs tmux once instead. Either way
// the picture is the same, byte for byte, and a failure is said in a run's words.
//
// Through the client, a poll first asks for the pane's marks (PaneMirrorMarks) alone: while they
// show that nothing can have changed since the last capture, the poll captures nothing and sends
// nothing, so an idle pane costs one short answer a poll. Otherwise the pair follows in a second
// exchange, and the capture keeps the marks just read: marks read before a capture are never
// newer than its contents, so whatever changed after them, before the capture or after it, shows
// against them at the next poll, which captures again. A change is still seen at the very next
// poll. A poll with no marks to go by asks for them in the pair's own list, before the pair. Once
// a second at least the pane is captured regardless, and every poll without a client captures.
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
    // The longest a pane goes uncaptured while its marks say it is unchanged.
    static constexpr Duration fullCaptureInterval = std::chrono::seconds(1);
    // The timing series of tmux's answers to the polls, recorded while timing samples are on.
    static constexpr std::string_view sampleSeries = "view_capture_text";

    struct Config {
        FrameHandler onFrame;                        // required
        Tmux tmux;                                   // where tmux is found and how a poll runs it
        std::shared_ptr<Clock> clock = nullptr;      // none: the system clock
        Instrumentation* instrumentation = nullptr;  // none: the shared one
        // Where polls go first; none: every poll runs tmux.
        std::shared_ptr<TmuxControl> control = nullptr;
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
    // complaint, with its digest, how long tmux took to answer and, when the control client
    // answered, the pane's marks as they stood at the capture or before it.
    struct Reading {
        ViewFrame frame;
        Bytes payload;
        std::uint64_t digest = 0;
        Duration ran{0};
        std::optional<PaneMirrorMarks> marks;
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
    // The two commands of a poll: the pane's size on a line of its own, then its contents.
    static std::vector<std::vector<std::string>> commands(const std::string& pane);
    // The same pair as one run of tmux, joined by tmux's separator.
    static std::vector<std::string> arguments(const std::string& pane);
    // What one run would have printed, rebuilt from the control client's answers to the pair:
    // the size line, a line feed, then each row and a line feed. None unless both commands were
    // answered and ok and the size is one line whose second number is the count of rows that
    // came: an answer cut short, or out of step, is no picture. Bytes that are not UTF-8 give
    // nothing, as a run does.
    static std::optional<std::string> printed(const std::vector<TmuxControl::Reply>& replies);
    // Asks tmux once for `pane`, through `control` when it answers (the marks, then the pair)
    // and through a run of the pair when it does not (or there is none), and reads the answer
    // into a frame titled `title`. Given marks of the pane read just before (`probed`), the client
    // is asked for the pair alone, and the reading keeps those.
    static Reading read(const Tmux& tmux, TmuxControl* control, const std::string& pane, const std::string& title,
                        const Clock& clock, const std::optional<PaneMirrorMarks>& probed = std::nullopt);

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
    std::optional<PaneMirrorMarks> probe(const std::string& pane);
    void sample(Duration ran);

    struct Answer {
        std::string printed;
        std::optional<PaneMirrorMarks> marks;
    };
    static std::optional<Answer> throughControl(TmuxControl& control, const std::string& pane,
                                                const std::optional<PaneMirrorMarks>& probed);

    const FrameHandler onFrame_;
    const Tmux tmux_;
    const std::shared_ptr<TmuxControl> control_;
    const std::shared_ptr<Clock> clock_;
    Instrumentation& instrumentation_;

    Mutex handOverLock_;                                      // held while a frame is handed on
    std::uint64_t generation_ GUARDED_BY(handOverLock_) = 0;  // bumped by every start and stop, and at the end

    // The queue's alone.
    std::optional<std::uint64_t> lastDigest_;
    std::optional<PaneMirrorMarks> marks_;  // of the last capture, when the client answered it
    MonoTime capturedAt_;
    Cancellable nextPoll_;

    // Last, so that it goes first: its tasks use the mirror, which is therefore only ever let go
    // by its owner, once the poll under way has ended.
    SerialQueue queue_;
};

}  // namespace quib
