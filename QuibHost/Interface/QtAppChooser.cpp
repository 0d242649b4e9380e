#include "QuibHost/Interface/QtAppChooser.hpp"

#include <QDialog>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace quib {
namespace {

constexpr int fileRole = Qt::UserRole;

QByteArray nativeBytes(const std::filesystem::path& file) { return QByteArray::fromStdString(file.string()); }

QIcon iconOf(const QtAppChooser::Row& row, const IconRenderer* renderer, const QStyle& style) {
    if (row.icon && renderer) {
        if (const auto drawn = renderer->render(*row.icon)) {
            QPixmap picture;
            if (picture.loadFromData(drawn->data(), static_cast<uint>(drawn->size()), "PNG")) return QIcon(picture);
        }
    } else if (row.icon) {
        const QPixmap picture(QString::fromStdString(row.icon->string()));
        if (!picture.isNull()) return QIcon(picture);
    }
    return style.standardIcon(QStyle::SP_FileIcon);
}

QListWidget* listOf(QDialog& dialog, const std::vector<QtAppChooser::Row>& rows, const IconRenderer* renderer) {
    auto* list = new QListWidget(&dialog);
    list->setObjectName(QStringLiteral("apps"));
    list->setViewMode(QListView::IconMode);
    list->setResizeMode(QListView::Adjust);
    list->setMovement(QListView::Static);
    list->setWordWrap(true);
    list->setUniformItemSizes(true);
    list->setIconSize(QSize(QtAppChooser::iconSide, QtAppChooser::iconSide));
    list->setGridSize(QSize(QtAppChooser::iconSide * 2 + 16, QtAppChooser::iconSide + 48));
    for (const auto& row : rows) {
        auto* item =
            new QListWidgetItem(iconOf(row, renderer, *dialog.style()), QString::fromStdString(row.name), list);
        item->setData(fileRole, nativeBytes(row.file));
        item->setToolTip(QString::fromStdString(row.file.stem().string()));
    }
    return list;
}

}  // namespace

QtAppChooser::QtAppChooser(QWidget* parent, Config config) : parent_(parent), config_(std::move(config)) {
    if (!config_.icons) config_.icons = IconTheme::standard();
}

std::vector<QtAppChooser::Row> QtAppChooser::rows() const {
    std::vector<Row> rows;
    if (!config_.apps) return rows;
    for (const auto& entry : config_.apps->installed()) {
        // As the desktop's menus: no entry kept out of them, nor one that runs in a terminal.
        if (entry.noDisplay || entry.terminal) continue;
        auto name = entry.localizedName();
        if (name.empty()) continue;
        rows.push_back(
            {std::move(name), entry.file, entry.icon.empty() ? std::nullopt : config_.icons->find(entry.icon)});
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        return QString::fromStdString(a.name).localeAwareCompare(QString::fromStdString(b.name)) < 0;
    });
    return rows;
}

std::unique_ptr<QDialog> QtAppChooser::makeDialog(QWidget* parent) const {
    auto dialog = std::make_unique<QDialog>(parent);
    dialog->setWindowTitle(QString::fromUtf8(title));
    dialog->resize(480, 400);
    auto* list = listOf(*dialog, rows(), config_.renderer.get());
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog.get());
    QPushButton* choose = buttons->button(QDialogButtonBox::Ok);
    choose->setText(QString::fromUtf8(accept));
    choose->setEnabled(false);
    QObject::connect(list, &QListWidget::itemSelectionChanged, choose,
                     [list, choose] { choose->setEnabled(!list->selectedItems().isEmpty()); });
    QObject::connect(list, &QListWidget::itemActivated, dialog.get(), &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog.get(), &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog.get(), &QDialog::reject);
    auto* layout = new QVBoxLayout(dialog.get());
    layout->addWidget(list);
    layout->addWidget(buttons);
    return dialog;
}

std::optional<std::filesystem::path> QtAppChooser::chosenFile(const QDialog& dialog) {
    const auto* list = dialog.findChild<QListWidget*>(QStringLiteral("apps"));
    if (!list || list->selectedItems().isEmpty()) return std::nullopt;
    // In the file system's own encoding, which a name need not be valid UTF-8 in.
    return std::filesystem::path(list->selectedItems().front()->data(fileRole).toByteArray().toStdString());
}

std::optional<std::filesystem::path> QtAppChooser::chooseApplication() {
    const auto dialog = makeDialog(parent_.data());
    if (dialog->exec() != QDialog::Accepted) return std::nullopt;
    return chosenFile(*dialog);
}

}  // namespace quib
