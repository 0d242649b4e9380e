#include "Platform/Tmux/TmuxControl.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/TmuxServer.hpp"

namespace quib::testing {
namespace {

using State = quib::TmuxControl::Reply::State;

// A control client on a server of the test's own with one session.
class TmuxControl : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.run({"new-session", "-d", "-s", "work", "-x", "80", "-y", "20", "cat > /dev/null"}));
    }

    // `text` set as the buffer through the client, then read back as tmux keeps it.
    std::optional<std::string> roundTrip(const std::string& text) {
        const auto saved = folder.path / "buffer";
        std::filesystem::remove(saved);
        const auto set = control.run(Tmux::setBufferArguments(text));
        if (set.state != State::answered || !set.ok) return std::nullopt;
        // Saved by a tmux run of its own: a control client may still be writing the file when
        // tmux reports the command done, a run has written it by the time it exits.
        if (!server.run({"save-buffer", "-b", "quib", saved.string()})) return std::nullopt;
        return fileContents(saved);
    }

    TmuxServer server;
    ScratchFolder folder{"tmux-control"};
    quib::TmuxControl control;
};

TEST_F(TmuxControl, EveryClassOfByteReachesTheBufferAsItWasSent) {
    const std::vector<std::pair<const char*, std::string>> classes = {
        {"quote, backslash, dollar, tilde", "\"\\$~ ~/x $HOME ${HOME} \\n \\u0041 \\\\"},
        {"line breaks and tabs", "a\nb\r\nc\td\n\n"},
        {"other controls and DEL", "\x01\x03\x04\x1b[A\x11\x13\x7f"},
        {"tmux's own syntax", "#{pane_id} #[fg=red] ; \\; %if %endif { } ' # comment"},
        {"UTF-8", "\xc3\xa9t\xc3\xa9 \xe2\x80\x94 \xf0\x9f\x98\x80 \xe6\x97\xa5\xe6\x9c\xac"},
        {"bytes that are not UTF-8", "\x80\xff\xfe\xc3 \xed\xa0\x80 \xf8"},
        {"leading dash", "-t %0 -d"},
    };
    for (const auto& [name, text] : classes) {
        SCOPED_TRACE(name);
        EXPECT_EQ(roundTrip(text), text);
    }
    std::string every;
    for (int byte = 1; byte <= 0xFF; ++byte) every += static_cast<char>(byte);
    EXPECT_EQ(roundTrip(every), every);
    for (int byte = 1; byte <= 0xFF; ++byte) {
        const std::string alone(1, static_cast<char>(byte));
        if (roundTrip(alone) != alone) ADD_FAILURE() << "byte " << byte;
    }
    EXPECT_EQ(control.starts(), 1u);
}

TEST_F(TmuxControl, AnswersWithOutputOrErrorAndStartsAgainAfterItsClientEnded) {
    const std::string pane = server.idOf("work:0.0");
    const auto found = control.run(Tmux::paneIDArguments(pane));
    EXPECT_EQ(found.state, State::answered);
    EXPECT_TRUE(found.ok);
    EXPECT_EQ(found.output, pane);
    const auto missing = control.run(Tmux::paneCheckArguments("%999"));
    EXPECT_EQ(missing.state, State::answered);
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.output.find("%999"), std::string::npos);
    // An output's empty lines are part of it, the first ones too.
    ASSERT_TRUE(control.run(Tmux::setBufferArguments("\n\nthird\n\nfifth")).ok);
    const auto shown = control.run({"show-buffer", "-b", "quib"});
    EXPECT_EQ(shown.output, "\n\nthird\n\nfifth");
    EXPECT_EQ(shown.lines, 5u);

    // Detached from outside, the client ends; a command soon finds it gone, and the next one
    // starts another.
    ASSERT_TRUE(server.run({"detach-client", "-s", "work"}));
    quib::TmuxControl::Reply again;
    for (int tries = 0; tries < 10 && control.starts() < 2; ++tries) again = control.run(Tmux::paneIDArguments(pane));
    EXPECT_EQ(again.state, State::answered);
    EXPECT_EQ(again.output, pane);
    EXPECT_EQ(control.starts(), 2u);
}

// A list is one line: each command answers in turn, and tmux stops at the first that fails, so
// nothing after a failed look-up is run. A separator inside an argument is only text.
TEST_F(TmuxControl, RunsAListInOrderAndStopsAtTheFirstCommandThatFails) {
    const std::string pane = server.idOf("work:0.0");
    const std::string text = "a ; set-buffer -b quib x ; b;";
    const auto replies = control.runList(
        {Tmux::paneCheckArguments(pane), Tmux::setBufferArguments(text), {"show-buffer", "-b", "quib"}});
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0].output, pane);
    EXPECT_TRUE(replies[1].ok);
    EXPECT_EQ(replies[2].output, text);
    ASSERT_TRUE(control.run({"delete-buffer", "-b", "quib"}).ok);

    const auto stopped = control.runList({Tmux::paneCheckArguments("%999"), Tmux::setBufferArguments("never")});
    ASSERT_EQ(stopped.size(), 1u);
    EXPECT_EQ(stopped[0].state, State::answered);
    EXPECT_FALSE(stopped[0].ok);
    EXPECT_FALSE(control.run({"show-buffer", "-b", "quib"}).ok);
    EXPECT_EQ(control.runList({{"list-sessions"}, {"set-buffer", std::string("\0", 1)}}).front().state, State::notRun);
    EXPECT_EQ(control.starts(), 1u);
}

TEST_F(TmuxControl, RunsNothingItCannotWriteOrWithoutASessionToAttachTo) {
    EXPECT_EQ(quib::TmuxControl::commandLine({"set-buffer", std::string("a\0b", 3)}), std::nullopt);
    EXPECT_EQ(control.run({"set-buffer", std::string("a\0b", 3)}).state, State::notRun);
    EXPECT_EQ(control.run({"set-buffer", std::string(quib::TmuxControl::lineLimit, 'x')}).state, State::notRun);
    EXPECT_EQ(control.starts(), 0u);

    ASSERT_TRUE(server.run({"kill-session", "-t", "work"}));
    EXPECT_EQ(control.run({"list-sessions"}).state, State::notRun);

    quib::TmuxControl missing(Tmux(std::vector<std::filesystem::path>{folder.path / "tmux"}));
    EXPECT_EQ(missing.run({"list-sessions"}).state, State::notRun);
    EXPECT_EQ(missing.starts(), 0u);
}

// A client of a script's own, which reads a command and says what the script says.
std::filesystem::path scriptedClient(const std::filesystem::path& folder, const std::string& says) {
    const auto path = folder / "tmux";
    writeFile(path, "#!/bin/sh\nread -r command\n" + says + "\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

// A client that says more than an answer may hold is let go, whether the bytes come in one line
// or in many, and the command counts as lost.
TEST_F(TmuxControl, DropsAClientThatSaysMoreThanAnAnswerMayHold) {
    const std::vector<std::pair<const char*, std::string>> clients = {
        {"one long line", "echo '%begin 1 1 1'; printf '%0100d' 0; sleep 5"},
        {"many lines", "echo '%begin 1 1 1'; for i in 1 2 3 4 5 6 7 8 9; do echo 0123456789; done; sleep 5"},
        {"a long line before the block", "printf '%0100d' 0; sleep 5"},
    };
    for (const auto& [name, says] : clients) {
        SCOPED_TRACE(name);
        quib::TmuxControl limited(Tmux({scriptedClient(folder.path, says)}), 64);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(limited.run({"list-sessions"}).state, State::unknown);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
        (void)limited.run({"list-sessions"});
        EXPECT_EQ(limited.starts(), 2u);
    }
    quib::TmuxControl fits(
        Tmux({scriptedClient(folder.path, "echo '%begin 1 1 1'; printf '%064d\\n' 0; echo '%end 1 1 1'")}), 64);
    const auto whole = fits.run({"list-sessions"});
    EXPECT_TRUE(whole.ok);
    EXPECT_EQ(whole.output, std::string(64, '0'));
}

// A block ends at the guard with its own time and number; lines before it are passed over.
TEST(TmuxControlBlockReader, ReadsTheBlockOfItsCommandAndNothingElse) {
    using Step = quib::TmuxControl::BlockReader::Step;
    struct Case {
        const char* name;
        std::vector<std::string> lines;
        std::optional<quib::TmuxControl::Reply> reply;  // none: not answered by the last line
        std::size_t limit = quib::TmuxControl::replyLimit;
    };
    const auto answered = [](bool ok, std::string output, std::size_t lines) {
        return quib::TmuxControl::Reply{State::answered, ok, std::move(output), lines};
    };
    const std::vector<Case> cases = {
        {"lines", {"%begin 5 7 1", "a", "", "b", "%end 5 7 1"}, answered(true, "a\n\nb", 3)},
        {"empty lines first", {"%begin 5 7 1", "", "", "x", "%end 5 7 1"}, answered(true, "\n\nx", 3)},
        {"one empty line", {"%begin 5 7 1", "", "%end 5 7 1"}, answered(true, "", 1)},
        {"no line", {"%begin 5 7 1", "%end 5 7 1"}, answered(true, "", 0)},
        {"after notices and the attachment's block",
         {"%begin 1 2 0", "stray", "%end 1 2 0", "%session-changed $0 work", "%begin 5 7 1", "x", "%end 5 7 1"},
         answered(true, "x", 1)},
        {"an error",
         {"%begin 5 7 1", "can't find pane: %9", "%error 5 7 1"},
         answered(false, "can't find pane: %9", 1)},
        {"look-alike guards inside",
         {"%begin 5 7 1", "%end 5 8 1", "%end 4 7 1", "%error 5 7 0", "%begin 5 7 1", "%end 5 7 1 x", "%end 5 7 1"},
         answered(true, "%end 5 8 1\n%end 4 7 1\n%error 5 7 0\n%begin 5 7 1\n%end 5 7 1 x", 5)},
        {"no end yet", {"%begin 5 7 1", "x"}, std::nullopt},
        {"exactly the limit", {"%begin 5 7 1", "ab", "c", "%end 5 7 1"}, answered(true, "ab\nc", 2), 4},
    };
    for (const auto& one : cases) {
        SCOPED_TRACE(one.name);
        quib::TmuxControl::BlockReader reader(one.limit);
        Step step = Step::more;
        for (const auto& line : one.lines) step = reader.take(line);
        ASSERT_EQ(step, one.reply ? Step::answered : Step::more);
        if (!one.reply) continue;
        const auto reply = std::move(reader).reply();
        EXPECT_EQ(reply.ok, one.reply->ok);
        EXPECT_EQ(reply.output, one.reply->output);
        EXPECT_EQ(reply.lines, one.reply->lines);
    }
    quib::TmuxControl::BlockReader full(4);
    EXPECT_EQ(full.take("%begin 5 7 1"), Step::more);
    EXPECT_EQ(full.take("abc"), Step::more);
    EXPECT_EQ(full.take("d"), Step::tooLarge);
}

}  // namespace
}  // namespace quib::testing
