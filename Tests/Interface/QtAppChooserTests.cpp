#include "QuibHost/Interface/QtAppChooser.hpp"

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QPushButton>

namespace quib {
namespace {

// Qt's own dialog for one desktop entry, from the applications folder, accepted by "Choose".
TEST(QtAppChooser, TheDialogAsksForOneDesktopEntryWithAChooseButton) {
    const auto dialog = QtAppChooser::makeDialog(nullptr);
    EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(dialog->nameFilters(), QStringList{QStringLiteral("*.desktop")});
    EXPECT_EQ(dialog->directory().absolutePath(), QStringLiteral("/usr/share/applications"));
    QStringList buttons;
    for (const QPushButton* button : dialog->findChildren<QPushButton*>()) buttons << button->text();
    EXPECT_TRUE(buttons.contains(QStringLiteral("Choose"))) << buttons.join(", ").toStdString();
}

}  // namespace
}  // namespace quib
