#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Tmux/Tmux.hpp"
#include "Runtime/Coprocess.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {

// One tmux client kept running in control mode, through which tmux commands run without
// starting a tmux process each: a command is one line in, and tmux answers it with a block of
// lines that ends in success or an error. The client is started on first use, attached to
// whichever session tmux picks but with its output and its size ignored, so it shows nothing and
// resizes no window; it is started again after it ended (its session went away, say).
//
// Every argument travels double-quoted, each byte written so that tmux's parser reads it back
// exactly: no variable, home folder or line break is expanded or ends the command. An argument
// holding a NUL byte cannot be written so: such a command is not run here.
//
// Safe on any thread; one command runs at a time.
class TmuxControl {
public:
    // How long tmux may take to answer one command.
    static constexpr auto timeout = std::chrono::seconds(2);
    // Commands longer than this are not sent: a large text goes faster on a pipe of its own.
    static constexpr std::size_t lineLimit = 256 * 1024;
    // The most an answer may hold (a large pane's contents with its colours fit many times):
    // a client that says more is dropped, and the answer is lost.
    static constexpr std::size_t replyLimit = 16 * 1024 * 1024;

    struct Reply {
        enum class State {
            answered,  // tmux ran the command: `ok` and `output` say how it went
            notRun,    // the command never reached tmux (no client, or it could not be written)
            unknown,   // tmux took the command but its answer did not come in time
        };
        State state = State::notRun;
        bool ok = false;
        // The lines tmux printed, joined with line breaks: the output, or the error.
        std::string output;
        // How many lines it printed (an empty output may be one empty line).
        std::size_t lines = 0;
    };

    // Reads what a client prints into the answer of one command: lines before the command's
    // own block (notices, the attachment's block) are passed over, and the block ends at the
    // guard line with its time and number, so a line inside it that only looks like a guard is
    // output. At most `limit` bytes of output are taken.
    class BlockReader {
    public:
        enum class Step { more, answered, tooLarge };

        explicit BlockReader(std::size_t limit = replyLimit) : limit_(limit) {}
        // Takes the next line the client printed, without its line break.
        Step take(std::string_view line);
        // Whether the command's block has begun.
        bool begun() const { return opening_.has_value(); }
        // The answer, once `take` said `answered`.
        Reply reply() && { return std::move(reply_); }

    private:
        struct Opening {
            std::string time;
            std::string number;
        };
        std::optional<Opening> opening_;
        Reply reply_;
        std::size_t limit_;
    };

    // Runs `tmux` (looked up afresh at each start) as the client; an answer holds at most
    // `replyLimit` bytes.
    explicit TmuxControl(Tmux tmux = Tmux(), std::size_t replyLimit = TmuxControl::replyLimit);
    ~TmuxControl();
    TmuxControl(const TmuxControl&) = delete;
    TmuxControl& operator=(const TmuxControl&) = delete;

    Reply run(const std::vector<std::string>& arguments);
    // Runs the commands as one list, in one exchange: tmux runs them in order and stops at the
    // first that fails. One reply for each command up to the one that ended the list: all of
    // them answered and ok, or the last one failed, not run (then it is the only one) or unknown.
    // Once tmux has begun the list, a lost answer is unknown: the rest may have run meanwhile.
    std::vector<Reply> runList(const std::vector<std::vector<std::string>>& commands);
    // Ends the client, for a caller whose answer did not add up: whatever the client still has
    // to say belongs to no command. The next command starts another.
    void discard();
    // How many clients were started so far.
    std::size_t starts() const;

    // The client's own arguments: control mode, attached without output or size.
    static std::vector<std::string> clientArguments();
    // The command line of `arguments`, each quoted; none when one holds a NUL byte.
    static std::optional<std::string> commandLine(const std::vector<std::string>& arguments);
    // The command lines of `commands` joined by tmux's separator; none when one holds a NUL byte.
    static std::optional<std::string> listLine(const std::vector<std::vector<std::string>>& commands);
    // `text` between double quotes: "\", '"', "$" and "~" escaped, line feed, tab and carriage
    // return as \n, \t and \r, the other control characters and DEL as \u00XX, and every byte
    // from 0x80 up in octal, so that no byte sequence can be taken for anything but itself.
    static std::string quoted(std::string_view text);

private:
    bool connect() REQUIRES(mutex_);
    std::vector<Reply> awaitReplies(std::size_t count, Coprocess::Deadline deadline) REQUIRES(mutex_);
    Reply awaitReply(Coprocess::Deadline deadline, bool listBegun) REQUIRES(mutex_);

    Tmux tmux_;
    std::size_t replyLimit_;
    mutable Mutex mutex_;
    std::unique_ptr<Coprocess> client_ GUARDED_BY(mutex_);
    std::size_t starts_ GUARDED_BY(mutex_) = 0;
};

}  // namespace quib
