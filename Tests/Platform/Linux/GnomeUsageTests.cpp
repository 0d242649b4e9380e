#include "Platform/Linux/GnomeUsage.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "Tests/Support/ScratchFolder.hpp"

namespace quib {
namespace {

WallTime at(std::int64_t seconds) { return WallTime(std::chrono::seconds(seconds)); }

TEST(GnomeUsage, ReadsEveryContextTakingTheHighestScoreAndLatestDate) {
    const auto table = GnomeUsage::parse(R"(<?xml version="1.0"?>
<application-state>
  <context id="">
    <application id="org.gnome.Terminal.desktop" open-window-count="1" score="23.7" last-seen="1765150000"/>
    <application id="firefox-esr.desktop" open-window-count="0" score="5" last-seen="1765000000"/>
    <application id="Never.Seen.desktop" score="2" last-seen="0"/>
    <application id="odd.desktop" score="lots" last-seen="yesterday"/>
    <application score="9"/>
  </context>
  <context id="work">
    <application id="org.gnome.terminal.desktop" score="3" last-seen="1765160000"/>
    <application id="firefox-esr.desktop" score="40.2" last-seen="1764000000"/>
  </context>
</application-state>)");
    EXPECT_EQ(table, (AppUsage::Table{
                         {"org.gnome.terminal", {23, at(1765160000)}},
                         {"firefox-esr", {40, at(1765000000)}},
                         {"never.seen", {2, std::nullopt}},
                         {"odd", {0, std::nullopt}},
                     }));
}

TEST(GnomeUsage, AnythingButItsDocumentCountsNoUse) {
    EXPECT_TRUE(GnomeUsage::parse("<application-state><context><application id='a' score='1'>").empty());
    EXPECT_TRUE(GnomeUsage::parse("<other><context><application id='a' score='1'/></context></other>").empty());
    EXPECT_TRUE(GnomeUsage::parse("").empty());
    EXPECT_TRUE(GnomeUsage::parse("score=1").empty());

    testing::ScratchFolder scratch("usage");
    EXPECT_TRUE(GnomeUsage(scratch.path / "missing").uses().empty());
    EXPECT_TRUE(GnomeUsage(scratch.path).uses().empty()) << "a folder";
    std::ofstream(scratch.path / "application_state")
        << "<application-state><context id=''><application id='a.desktop' score='1.5'/></context></application-state>";
    EXPECT_EQ(GnomeUsage(scratch.path / "application_state").uses(), (AppUsage::Table{{"a", {1, std::nullopt}}}));
}

}  // namespace
}  // namespace quib
