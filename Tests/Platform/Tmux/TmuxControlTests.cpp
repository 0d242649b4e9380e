#include "Platform/Tmux/TmuxControl.hpp"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace quib::testing
