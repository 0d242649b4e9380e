#include "QuibHost/Streaming/PaneMirrorMarks.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "Tests/Support/TmuxServer.hpp"

using quib::PaneMirrorMarks;

TEST(PaneMirrorMarks, ReadsTheTwoTimesFirstAndKeepsTheRestAsPrinted) {
    const std::vector<std::pair<std::string, std::optional<PaneMirrorMarks>>> lines = {
        {"1700000000 1700000005 %3 @1 812 0 80 24 5 1 0 0 0 ",
         PaneMirrorMarks{1700000000, 1700000005, "%3 @1 812 0 80 24 5 1 0 0 0 "}},
        {"0 0 ", PaneMirrorMarks{0, 0, ""}},
        {"1700000000 %s %3", std::nullopt},  // a tmux whose clock did not expand
        {"-1 5 %3", std::nullopt},
        {"+1 5 %3", std::nullopt},
        {"1 99999999999999999999 %3", std::nullopt},
        {"1 5", std::nullopt},
        {"1 5 %3\n1 5 %3", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [line, marks] : lines) {
        SCOPED_TRACE(line);
        EXPECT_EQ(PaneMirrorMarks::parse(line), marks);
    }
}

// Output after a capture lands in the second of the capture's clock or later; anything else
// done to the pane shows in the other fields.
TEST(PaneMirrorMarks, TellsThatAPaneIsUnchangedOnlyWhenNoOutputCanHaveFollowedTheCapture) {
    const PaneMirrorMarks captured{100, 105, "%3 @1 812 0 80 24 5 1 0 0 0 "};
    const auto with = [&](std::int64_t activity, std::int64_t clock, std::string fields = "") {
        return PaneMirrorMarks{activity, clock, fields.empty() ? captured.fields : fields};
    };
    struct Case {
        const char* name;
        PaneMirrorMarks now;
        bool unchanged;
    };
    const std::vector<Case> cases = {
        {"the same, tmux's clock on", with(100, 107), true},
        {"the same, asked in the capture's second", with(100, 105), true},
        {"output since", with(106, 107), false},
        {"output in the capture's second", with(105, 105), false},
        {"another cursor", with(100, 107, "%3 @1 812 0 80 24 6 1 0 0 0 "), false},
        {"another size", with(100, 107, "%3 @1 812 0 81 24 5 1 0 0 0 "), false},
        {"another process", with(100, 107, "%3 @1 813 0 80 24 5 1 0 0 0 "), false},
        {"another pane at the address", with(100, 107, "%4 @1 812 0 80 24 5 1 0 0 0 "), false},
        {"tmux's clock set back", with(100, 104), false},
    };
    for (const auto& one : cases) {
        SCOPED_TRACE(one.name);
        EXPECT_EQ(PaneMirrorMarks::unchangedSince(captured, one.now), one.unchanged);
    }
    // Output in the second the capture was made in may have followed it.
    EXPECT_FALSE(PaneMirrorMarks::unchangedSince(with(105, 105), with(105, 107)));
}

// The line as this system's tmux prints it for a real pane, whose output moves its activity.
TEST(PaneMirrorMarks, ReadsARealPanesLine) {
    quib::testing::TmuxServer server;
    ASSERT_TRUE(server.run({"new-session", "-d", "-s", "marks", "-x", "40", "-y", "6", "exec cat"}));
    const auto printed = server.run(PaneMirrorMarks::arguments("marks:0.0"));
    ASSERT_TRUE(printed);
    const auto marks = PaneMirrorMarks::parse(*printed);
    ASSERT_TRUE(marks) << *printed;
    EXPECT_LE(marks->activity, marks->clock);
    EXPECT_TRUE(marks->fields.starts_with(server.idOf("marks:0.0") + " @")) << marks->fields;
    EXPECT_NE(marks->fields.find(" 40 6 "), std::string::npos) << marks->fields;
}
