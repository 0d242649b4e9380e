#include "QuibHost/Interface/QtAppChooser.hpp"

#include <QFile>
#include <QFileDialog>

namespace quib {

std::unique_ptr<QFileDialog> QtAppChooser::makeDialog(QWidget* parent) {
    auto dialog = std::make_unique<QFileDialog>(parent);
    // Qt's own dialog, so that its accept button can be named.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Choose"));
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setNameFilter(QStringLiteral("*.desktop"));
    dialog->setDirectory(QString::fromUtf8(startFolder));
    return dialog;
}

std::optional<std::filesystem::path> QtAppChooser::chooseApplication() {
    const auto dialog = makeDialog(parent_.data());
    if (dialog->exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog->selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    // In the file system's own encoding, which a name need not be valid UTF-8 in.
    return std::filesystem::path(QFile::encodeName(chosen.front()).toStdString());
}

}  // namespace quib
