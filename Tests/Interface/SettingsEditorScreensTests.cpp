#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>

#include "QuibHost/Interface/QtMainExecutor.hpp"
#include "QuibHost/Interface/SettingsView.hpp"
#include "QuibHost/Panel/SettingsActions.hpp"
#include "Tests/Interface/PanelPictures.hpp"
#include "Tests/Support/TargetEditorHost.hpp"

namespace quib {
namespace {

using Kind = QuibTarget::Kind;
using testing::compareWithReference;

// The settings window on Qt's event loop with its editor on the one saved target, the lists of
// the editor's pickers listed.
struct EditorWindow {
    explicit EditorWindow(Kind kind, bool tmux = true) {
        QuibTarget target;
        target.id = "T1";
        target.name = "Work";
        target.kind = kind;
        target.symbol = "terminal";
        target.bundleID = "org.gnome.Terminal";
        target.tmuxTarget = "%9";
        host.install("org.gnome.Terminal.desktop", "Type=Application\nName=Terminal\n");
        host.install("firefox-esr.desktop", "Type=Application\nName=Firefox ESR\n");
        host.workspace->running = {{"firefox-esr", 1}, {"org.gnome.Terminal", 2}};
        host.setPanes({{"%1", "work:0.0", "claude", "/src"}, {"%2", "work:0.1", "bash", "/src"}});
        if (!tmux) host.uninstallTmux();
        host.onMain([&] { ASSERT_EQ(host.store->upsert(target), std::nullopt); });
        actions = std::make_shared<SettingsActions>(SettingsActions::Config{.store = host.store,
                                                                            .editing = {.main = host.main,
                                                                                        .store = host.store,
                                                                                        .workspace = host.workspace,
                                                                                        .apps = host.apps,
                                                                                        .tmux = host.tmux(),
                                                                                        .tmuxQueue = host.tmuxQueue}});
        view = std::make_unique<SettingsView>(actions, MenuStyle::ofApplication());
        view->select({"T1"});
        view->ensurePolished();
        editor = dynamic_cast<TargetEditor*>(view->detail());
        if (!editor) return;
        editor->actions().appeared();
        host.answerListings();
    }
    ~EditorWindow() { view.reset(); }

    QImage picture() const { return view->grab().toImage().convertToFormat(QImage::Format_ARGB32); }
    // The texts of the labels the editor shows now.
    QStringList shownLabels() const {
        QStringList shown;
        for (const auto* label : editor->findChildren<QLabel*>())
            if (label->isVisibleTo(editor)) shown << label->text();
        return shown;
    }

    std::shared_ptr<QtMainExecutor> executor = std::make_shared<QtMainExecutor>();
    testing::TargetEditorHost host{executor, [] { QCoreApplication::sendPostedEvents(); }};
    std::shared_ptr<SettingsActions> actions;
    std::unique_ptr<SettingsView> view;
    TargetEditor* editor = nullptr;
};

TEST(SettingsViewScreens, TheEditorOfAnAppTarget) {
    EditorWindow window(Kind::app);
    ASSERT_NE(window.editor, nullptr);
    const auto* apps = window.editor->findChildren<QComboBox*>().at(1);
    EXPECT_EQ(apps->count(), 3);
    EXPECT_EQ(apps->currentText(), "Terminal  (org.gnome.Terminal)");
    EXPECT_TRUE(window.shownLabels().contains("Terminal app"));
    EXPECT_EQ(compareWithReference(window.picture(), "settings-editor-app"), "");
}

// The saved pane is not running: it is the picker's last row, and selected.
TEST(SettingsViewScreens, TheEditorOfAPaneThatIsNotRunning) {
    EditorWindow window(Kind::tmux);
    ASSERT_NE(window.editor, nullptr);
    const auto* panes = window.editor->findChildren<QComboBox*>().at(2);
    EXPECT_EQ(panes->count(), 4);
    EXPECT_EQ(panes->currentIndex(), 3);
    EXPECT_EQ(panes->currentText(), "%9 (not running)");
    EXPECT_EQ(compareWithReference(window.picture(), "settings-editor-tmux"), "");
}

TEST(SettingsViewScreens, TheEditorOfTheFrontmostApp) {
    EditorWindow window(Kind::frontmost);
    ASSERT_NE(window.editor, nullptr);
    EXPECT_TRUE(window.shownLabels().contains(
        "Text is pasted into whatever already has keyboard focus. Useful as a catch-all button."));
    EXPECT_EQ(compareWithReference(window.picture(), "settings-editor-frontmost"), "");
}

TEST(SettingsViewScreens, TheEditorOfAPaneWithoutTmux) {
    EditorWindow window(Kind::tmux, false);
    ASSERT_NE(window.editor, nullptr);
    const auto shown = window.shownLabels();
    EXPECT_TRUE(shown.contains("tmux not found in /opt/homebrew/bin, /usr/local/bin or /usr/bin."));
    EXPECT_FALSE(shown.contains("Pane"));
    EXPECT_EQ(compareWithReference(window.picture(), "settings-editor-no-tmux"), "");
}

}  // namespace
}  // namespace quib
