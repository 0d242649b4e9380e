// The document an app's window shows, read through the accessibility bus: the GTK fixture
// editor's document reports its file, and the vocabulary takes that file's folder.

#include <gtest/gtest.h>

#include <fstream>

#include "AtspiReading.hpp"
#include "Platform/Headless/HeadlessDesktop.hpp"
#include "QuibHost/Apps/Vocabulary.hpp"
#include "QuibHost/Targets/EventInjector.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib::testing {
namespace {

namespace fs = std::filesystem;

// The folder the vocabulary of a host trusted with the display finds for the editor running as
// `processID`.
std::optional<std::string> folderShownBy(const AtspiReading& reading, std::int64_t processID) {
    DesktopServices desktop;
    desktop.workspace = std::make_shared<OneRunningApp>(std::string(FixtureApp::gtkEditorID), processID);
    desktop.documents = reading.documents;
    desktop = HeadlessDesktop::fillGaps(std::move(desktop));
    auto injector = EventInjector::create(
        {.desktop = desktop, .permissions = std::make_shared<TrustedInjector>(), .clock = SystemClock::shared()});
    Vocabulary vocabulary(
        {.desktop = desktop, .injector = injector, .paneFolder = [](const std::string&) -> std::optional<std::string> {
             return std::nullopt;
         }});
    return vocabulary.documentDirectory(Workspace::RunningApp{std::string(FixtureApp::gtkEditorID), processID});
}

TEST(AtspiDocuments, TheDocumentOfTheEditorsWindowGivesItsFileAndFolder) {
    QUIB_REQUIRE_ACCESSIBILITY_BUS();
    AtspiReading reading(DesktopSession::shared());
    ScratchFolder scratch("atspi-doc");
    const fs::path source = scratch.path / "project" / "src" / "main.c";
    fs::create_directories(source.parent_path());
    std::ofstream(source) << "int main(void) { return 0; }\n";
    auto editor = publishedApp(FixtureApp::Kind::gtkEditor, DesktopSession::shared(), {"--document", source.string()});
    ASSERT_TRUE(editor);

    EXPECT_EQ(reading.documents->documentURL(editor->pid()), "file://" + source.string());
    EXPECT_EQ(folderShownBy(reading, editor->pid()), (scratch.path / "project" / "src").string());
}

TEST(AtspiDocuments, AWindowShowingNoFileAndAProcessWithoutWindowsGiveNone) {
    QUIB_REQUIRE_ACCESSIBILITY_BUS();
    AtspiReading reading(DesktopSession::shared());
    auto editor = publishedApp(FixtureApp::Kind::gtkEditor, DesktopSession::shared());
    ASSERT_TRUE(editor);
    EXPECT_EQ(reading.documents->documentURL(editor->pid()), std::nullopt);
    EXPECT_EQ(reading.documents->documentURL(::getpid()), std::nullopt);
}

// A node may claim billions of children (a spreadsheet's table counts every cell): the walk reads
// only as many as it may still look at, and answers instead of asking for each one.
TEST(AtspiDocuments, ATableClaimingBillionsOfCellsIsReadOnlyAsFarAsTheWalkGoes) {
    QUIB_REQUIRE_ACCESSIBILITY_BUS();
    AtspiReading reading(DesktopSession::shared());
    auto editor = publishedApp(FixtureApp::Kind::gtkEditor, DesktopSession::shared(), {"--vast-table"});
    ASSERT_TRUE(editor);
    EXPECT_EQ(reading.documents->documentURL(editor->pid()), std::nullopt);
    EXPECT_TRUE(reading.menus->menuBar(editor->pid(), MenuScanner::messagingTimeout));
}

}  // namespace
}  // namespace quib::testing
