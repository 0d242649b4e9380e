#include "Platform/Freedesktop/ExecLine.hpp"

#include <gtest/gtest.h>

namespace quib {
namespace {

using Words = std::vector<std::string>;

DesktopEntry app(std::string exec, std::string icon = "bars") {
    DesktopEntry entry;
    entry.id = "bars";
    entry.file = "/usr/share/applications/bars.desktop";
    entry.type = "Application";
    entry.name = "Bars Term";
    entry.icon = std::move(icon);
    entry.exec = std::move(exec);
    return entry;
}

Words words(const std::string& exec, const std::string& icon = "bars") {
    auto result = ExecLine::arguments(app(exec, icon));
    EXPECT_TRUE(result) << exec;
    return result ? *result : Words{};
}

TEST(ExecLine, SplitsOnSpacesAndKeepsQuotedSpaces) {
    EXPECT_EQ(words("xterm"), (Words{"xterm"}));
    EXPECT_EQ(words("  xterm   -class  Bars "), (Words{"xterm", "-class", "Bars"}));
    EXPECT_EQ(words("\"/opt/my apps/bars\" --title \"Bars Term\""),
              (Words{"/opt/my apps/bars", "--title", "Bars Term"}));
    EXPECT_EQ(words("sh -c \"cat > \"/tmp/out\"\""), (Words{"sh", "-c", "cat > /tmp/out"}));
    EXPECT_EQ(words("bars \"\""), (Words{"bars", ""}));
}

TEST(ExecLine, ABackslashMakesTheNextCharacterLiteral) {
    EXPECT_EQ(words(R"(sh -c "echo \"hi\" \$HOME \`id\` \\")"), (Words{"sh", "-c", R"(echo "hi" $HOME `id` \)"}));
    EXPECT_EQ(words(R"(bars a\ b)"), (Words{"bars", "a b"}));
}

TEST(ExecLine, FileAndUrlCodesDropOutWithAWordOfTheirOwn) {
    EXPECT_EQ(words("bars %f"), (Words{"bars"}));
    EXPECT_EQ(words("bars %F --new %u %U"), (Words{"bars", "--new"}));
    EXPECT_EQ(words("bars --file=%f \"%U\" %d %D %n %N %v %m"), (Words{"bars", "--file="}));
    EXPECT_EQ(words("bars %x --y"), (Words{"bars", "--y"}));
}

TEST(ExecLine, ExpandsTheIconTheNameTheFileAndThePercentSign) {
    EXPECT_EQ(words("bars %i"), (Words{"bars", "--icon", "bars"}));
    EXPECT_EQ(words("bars %i --x", ""), (Words{"bars", "--x"}));
    EXPECT_EQ(words("bars --name %c"), (Words{"bars", "--name", "Bars Term"}));
    EXPECT_EQ(words("bars --title=\"%c here\""), (Words{"bars", "--title=Bars Term here"}));
    EXPECT_EQ(words("bars %k"), (Words{"bars", "/usr/share/applications/bars.desktop"}));
    EXPECT_EQ(words("bars 100%% %%f 5%"), (Words{"bars", "100%", "%f", "5%"}));
}

TEST(ExecLine, RefusesAnUnclosedQuoteAndALineWithoutAProgram) {
    const auto unclosed = ExecLine::arguments(app("bars \"--title"));
    ASSERT_FALSE(unclosed);
    EXPECT_EQ(unclosed.error().message, "The command line of Bars Term has an unclosed quote");
    for (const char* exec : {"", "   ", "%U", "\"\" --x"}) {
        const auto empty = ExecLine::arguments(app(exec));
        ASSERT_FALSE(empty) << exec;
        EXPECT_EQ(empty.error().message, "Bars Term has no command to start it with");
    }
}

}  // namespace
}  // namespace quib
