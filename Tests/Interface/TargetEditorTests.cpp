#include "QuibHost/Interface/TargetEditor.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

#include "QuibHost/Interface/QtMainExecutor.hpp"
#include "Tests/Support/TargetEditorHost.hpp"

namespace quib {
namespace {

using Kind = QuibTarget::Kind;

// The editor's host on Qt's event loop, and the form on a target, laid out but not shown.
struct EditorForm {
    explicit EditorForm(const QuibTarget& target) {
        host.edit(target);
        form = std::make_unique<TargetEditor>(host.editor, MenuStyle::ofApplication());
        form->ensurePolished();
    }

    // The widget of this kind whose row is labelled so.
    template <class Widget>
    Widget* field(const QString& label) const {
        for (auto* text : form->findChildren<QLabel*>()) {
            if (text->text() != label) continue;
            auto* layout = qobject_cast<QFormLayout*>(text->parentWidget()->layout());
            if (!layout) continue;
            int row = -1;
            QFormLayout::ItemRole role;
            layout->getWidgetPosition(text, &row, &role);
            if (row < 0 || role != QFormLayout::LabelRole) continue;
            if (auto* item = layout->itemAt(row, QFormLayout::FieldRole)) return qobject_cast<Widget*>(item->widget());
        }
        return nullptr;
    }
    // The group boxes that are not hidden, by title.
    QStringList sections() const {
        QStringList titles;
        for (const auto* box : form->findChildren<QGroupBox*>())
            if (!box->isHidden()) titles << box->title();
        return titles;
    }

    std::shared_ptr<QtMainExecutor> executor = std::make_shared<QtMainExecutor>();
    testing::TargetEditorHost host{executor, [] { QCoreApplication::sendPostedEvents(); }};
    std::unique_ptr<TargetEditor> form;
};

QuibTarget target(Kind kind) {
    QuibTarget t;
    t.id = "T1";
    t.name = "Work";
    t.kind = kind;
    t.bundleID = "org.example.Notes";
    t.tmuxTarget = "%4";
    return t;
}

void type(QWidget& widget, const QString& characters) {
    for (const QChar character : characters) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(character));
        QApplication::sendEvent(&widget, &press);
    }
}

// Each keystroke is one write of the whole target; a name the store refuses shows the stored
// one again.
TEST(TargetEditor, TypingInTheNameWritesOnEveryKeystroke) {
    EditorForm editor(target(Kind::app));
    auto* name = editor.field<QLineEdit>("Name");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->text(), "Work");
    editor.host.writes.clear();
    name->setCursorPosition(4);
    type(*name, "ing");
    ASSERT_EQ(editor.host.writes.size(), 3u);
    EXPECT_EQ(editor.host.writes[0].name, "Worki");
    EXPECT_EQ(editor.host.writes[2].name, "Working");
    EXPECT_EQ(editor.host.stored().name, "Working");
    EXPECT_EQ(editor.host.writes[2].bundleID, "org.example.Notes");

    name->setText(QString(static_cast<int>(TargetStore::longestName), QLatin1Char('x')));
    type(*name, "y");
    EXPECT_EQ(editor.host.stored().name, "Working");
    EXPECT_EQ(name->text(), "Working");
}

// The second section follows the kind chosen in "Delivery": the app's, the pane's (or the note
// that tmux is missing), or the frontmost app's note without a header.
TEST(TargetEditor, TheDeliveryPickerSwitchesTheSecondSection) {
    EditorForm editor(target(Kind::app));
    auto* kind = editor.field<QComboBox>("Delivery");
    ASSERT_NE(kind, nullptr);
    ASSERT_EQ(kind->count(), 3);
    EXPECT_EQ(kind->currentText(), "Raise app, then paste");
    EXPECT_EQ(editor.sections(), (QStringList{"", "Application", ""}));

    Q_EMIT kind->activated(1);
    EXPECT_EQ(editor.host.stored().kind, Kind::tmux);
    EXPECT_EQ(editor.sections(), (QStringList{"", "tmux", ""}));
    auto* pane = editor.field<QComboBox>("Pane");
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(pane->currentText(), "%4 (not running)");
    EXPECT_EQ(editor.field<QLabel>("Pane id")->text(), "%4");

    Q_EMIT pane->activated(0);
    EXPECT_EQ(editor.host.stored().tmuxTarget, "");
    EXPECT_EQ(editor.field<QLabel>("Pane id")->text(), "");

    Q_EMIT kind->activated(2);
    EXPECT_EQ(editor.sections(), (QStringList{"", "", ""}));
    EXPECT_EQ(editor.host.stored().bundleID, "org.example.Notes");
}

TEST(TargetEditor, WithoutTmuxThePaneSectionOnlySaysSo) {
    EditorForm editor(target(Kind::tmux));
    editor.host.uninstallTmux();
    editor.host.onMain([&] { editor.host.editor->refresh(); });
    EXPECT_EQ(editor.sections(), (QStringList{"", "tmux", ""}));
    QStringList shown;
    for (const auto* label : editor.form->findChildren<QLabel*>())
        if (!label->isHidden() && label->parentWidget()->isVisibleTo(editor.form.get())) shown << label->text();
    EXPECT_TRUE(shown.contains("tmux not found in /opt/homebrew/bin, /usr/local/bin or /usr/bin."));
    EXPECT_FALSE(shown.contains("Pane"));
}

// "Press Return after sending" is greyed out, not changed, while Return may not be pressed;
// every label is plain text.
TEST(TargetEditor, TheSwitchesFollowTheTarget) {
    auto t = target(Kind::frontmost);
    t.allowAutoSubmit = false;
    EditorForm editor(t);
    QCheckBox* allow = nullptr;
    QCheckBox* press = nullptr;
    for (auto* box : editor.form->findChildren<QCheckBox*>())
        (box->text() == "Allow pressing Return" ? allow : press) = box;
    ASSERT_TRUE(allow && press);
    EXPECT_FALSE(allow->isChecked());
    EXPECT_TRUE(press->isChecked());
    EXPECT_FALSE(press->isEnabled());
    EXPECT_EQ(allow->toolTip(), "Off for a pane sitting at a shell prompt: text still arrives, but nothing submits it");
    allow->click();
    EXPECT_TRUE(editor.host.stored().allowAutoSubmit);
    EXPECT_TRUE(press->isEnabled());
    press->click();
    EXPECT_FALSE(editor.host.stored().submitOnSend);
    for (const auto* label : editor.form->findChildren<QLabel*>()) EXPECT_EQ(label->textFormat(), Qt::PlainText);
}

}  // namespace
}  // namespace quib
