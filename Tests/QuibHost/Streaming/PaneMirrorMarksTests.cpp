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
