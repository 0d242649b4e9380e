#include <gtest/gtest.h>

#include <algorithm>

#include "QuibHost/Panel/SettingsDump.hpp"
#include "QuibHost/Panel/SettingsViewModel.hpp"

namespace quib {
namespace {

QuibTarget target(const std::string& id, const std::string& name, const std::string& symbol = "terminal") {
    QuibTarget t;
    t.id = id;
    t.name = name;
    t.symbol = symbol;
    return t;
}

const std::vector<QuibTarget> three{target("A", "Editor"), target("B", "Agent (work)"), target("C", "Browser")};

TEST(SettingsViewModel, WithNoTargetsShowsThePlaceholderADisabledMinusAndZeroTargets) {
    const auto model = SettingsViewModel::build({}, {}, {});
    EXPECT_EQ(SettingsDump::lines(model), (std::vector<std::string>{
                                              "list\tdivider\t",
                                              "bar\tbutton\t\tsymbol=plus\tenabled=1\tborderless=1",
                                              "bar\tbutton\t\tsymbol=minus\tenabled=0\tborderless=1",
                                              "bar\ttext\t0 targets\ttone=secondary\tfont=caption2",
                                              "detail\tsymbol\tsquare.dashed",
                                              "detail\ttext\tNo target selected\tfont=title3",
                                              "detail\ttext\tPick a target on the left, or add one.\ttone=secondary",
                                              "end",
                                          }));
}

// The list's current row wins while it is selected; otherwise the first selected row in list
// order does, whatever order the selection holds; a selection of gone targets picks none.
TEST(SettingsViewModel, TheSelectedTargetIsTheCurrentRowElseTheFirstSelectedOne) {
    EXPECT_EQ(SettingsViewModel::build(three, {}, {"C", "B"}, "C").selectedTarget->id, "C");
    EXPECT_EQ(SettingsViewModel::build(three, {}, {"C", "B"}, "A").selectedTarget->id, "B");
    EXPECT_EQ(SettingsViewModel::build(three, {}, {"C", "B"}).selectedTarget->id, "B");
    const auto gone = SettingsViewModel::build(three, {}, {"GONE"});
    EXPECT_FALSE(gone.selectedTarget);
    EXPECT_TRUE(gone.canRemove);
    // The count's one form.
    EXPECT_EQ(SettingsViewModel::build({three[0]}, {}, {}).count, "1 targets");
}

// Rows in the store's order, each keyed by its id; only the unresolved one carries the orange
// warning with its help; the selected row's name fills the right pane. Names are escaped.
TEST(SettingsDump, PrintsTheRowsTheWarningTheBarAndTheSelectedTarget) {
    auto targets = three;
    targets[2].name = "Tab\there";
    const auto lines = SettingsDump::lines(SettingsViewModel::build(targets, {"B", "GONE"}, {"A"}));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "list\tlabel\tEditor\tsymbol=terminal\tselected=1\tkey=A",
                         "list\tlabel\tAgent (work)\tsymbol=terminal\tkey=B",
                         "list\tsymbol\texclamationmark.triangle.fill\thelp=This pane is no longer running. Pick "
                         "another one.\ttone=orange\tkey=B",
                         "list\tlabel\tTab\\there\tsymbol=terminal\tkey=C",
                         "list\tdivider\t",
                         "bar\tbutton\t\tsymbol=plus\tenabled=1\tborderless=1",
                         "bar\tbutton\t\tsymbol=minus\tenabled=1\tborderless=1",
                         "bar\ttext\t3 targets\ttone=secondary\tfont=caption2",
                         "detail\ttext\tEditor\tkey=A",
                         "end",
                     }));
}

// Every fixed text and symbol of the window, shown in some state.
TEST(SettingsViewTexts, EveryFixedTextShowsAsWritten) {
    const std::vector<std::string> table{
        "exclamationmark.triangle.fill",
        "This pane is no longer running. Pick another one.",
        "plus",
        "minus",
        " targets",
        "No target selected",
        "square.dashed",
        "Pick a target on the left, or add one.",
    };
    std::string shown;
    for (const auto& model : {SettingsViewModel::build({}, {}, {}), SettingsViewModel::build(three, {"A"}, {"A"})})
        for (const auto& line : SettingsDump::lines(model)) shown += line + "\n";
    for (const auto& text : table) EXPECT_NE(shown.find(text), std::string::npos) << text;
    EXPECT_EQ(SettingsViewModel::Texts::title, "Quib Settings");
}

}  // namespace
}  // namespace quib
