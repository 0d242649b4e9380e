#include "QuibHost/Interface/SettingsView.hpp"

#include <QDropEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QPainter>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>

#include "QuibHost/Interface/QtAppChooser.hpp"
#include "QuibHost/Interface/SymbolTable.hpp"

namespace quib {
namespace {

using Texts = SettingsViewModel::Texts;

constexpr int idRole = Qt::UserRole;
constexpr int warningRole = Qt::UserRole + 1;  // the warning's hover help, or nothing
constexpr int warningSize = 14;
constexpr int warningMargin = 6;

QString text(std::string_view value) { return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())); }

// The symbol's shape in one colour.
QPixmap tinted(const QIcon& icon, int size, QColor colour) {
    QPixmap pixmap = icon.pixmap(size, size);
    if (pixmap.isNull()) return pixmap;
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), colour);
    return pixmap;
}

// Draws a row as the style does, its name cut short with an ellipsis where it would not fit,
// plus the orange warning at the list's visible right edge, whose hover help is its own.
class RowDelegate final : public QStyledItemDelegate {
public:
    RowDelegate(QAbstractItemView* view, QPixmap warning)
        : QStyledItemDelegate(view), view_(view), warning_(std::move(warning)) {}

    // The row as far as the list shows it.
    QRect visible(const QRect& row) const {
        QRect shown = row;
        shown.setRight(std::min(row.right(), view_->viewport()->width() - 1));
        return shown;
    }

    QRect warningRect(const QRect& row) const {
        const QRect shown = visible(row);
        return QRect(shown.right() - warningMargin - warningSize + 1, shown.center().y() - warningSize / 2 + 1,
                     warningSize, warningSize);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem narrowed = option;
        narrowed.rect = visible(option.rect);
        narrowed.textElideMode = Qt::ElideRight;
        if (!index.data(warningRole).isNull()) narrowed.rect.setRight(warningRect(option.rect).left() - warningMargin);
        QStyledItemDelegate::paint(painter, narrowed, index);
        if (!index.data(warningRole).isNull()) painter->drawPixmap(warningRect(option.rect), warning_);
    }

    // No row is wider than the list, so the list never scrolls sideways.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setWidth(std::min(size.width(), std::max(1, view_->viewport()->width())));
        return size;
    }

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
        const QVariant help = index.data(warningRole);
        if (event->type() != QEvent::ToolTip || help.isNull() || !warningRect(option.rect).contains(event->pos())) {
            QToolTip::hideText();
            return event->type() == QEvent::ToolTip;
        }
        QToolTip::showText(event->globalPos(), help.toString(), view);
        return true;
    }

private:
    QAbstractItemView* view_;
    QPixmap warning_;
};

QToolButton* barButton(std::string_view symbol, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setIcon(SymbolTable::icon(symbol, *button->style()));
    button->setAutoRaise(true);  // borderless
    button->setAccessibleName(text(symbol));
    return button;
}

}  // namespace

SettingsView::TargetList::TargetList(QWidget* parent) : QListWidget(parent) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTextElideMode(Qt::ElideRight);
    setResizeMode(QListView::Adjust);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragDropMode(QAbstractItemView::InternalMove);
    setDefaultDropAction(Qt::MoveAction);
    setFrameShape(QFrame::NoFrame);
}

// The drop changes nothing here: the rows are redrawn from the store once the move is stored.
// The drag is answered as ignored, so the view takes none of its rows away afterwards.
void SettingsView::TargetList::dropEvent(QDropEvent* event) {
    if (event->source() != this) return event->ignore();
    std::set<std::size_t> sources;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        sources.insert(static_cast<std::size_t>(index.row()));
    const QPoint at = event->position().toPoint();
    const QModelIndex over = indexAt(at);
    std::size_t destination = static_cast<std::size_t>(count());
    if (over.isValid()) {
        const QRect row = visualRect(over);
        destination = static_cast<std::size_t>(over.row() + (at.y() >= row.center().y() ? 1 : 0));
    }
    event->setDropAction(Qt::IgnoreAction);
    event->accept();
    if (onDrop && !sources.empty()) onDrop(sources, destination);
}

SettingsView::SettingsView(std::shared_ptr<SettingsActions> actions, MenuStyle style, QWidget* parent)
    : QWidget(parent), actions_(std::move(actions)), style_(std::move(style)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(text(Texts::title));
    setFixedSize(windowWidth, windowHeight);
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(makeList());
    splitter->addWidget(makeDetail());
    splitter->setSizes({leftMinimum + 10, windowWidth - leftMinimum - 10});
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);
    watchStore();
}

SettingsView::~SettingsView() = default;

QWidget* SettingsView::makeList() {
    auto* pane = new QWidget(this);
    pane->setMinimumWidth(leftMinimum);
    auto* column = new QVBoxLayout(pane);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    list_ = new TargetList(pane);
    const QIcon warning = SymbolTable::icon(Texts::warningSymbol, *style());
    list_->setItemDelegate(new RowDelegate(list_, tinted(warning, warningSize, style_.colour(Tone::orange))));
    list_->onDrop = [this](const std::set<std::size_t>& sources, std::size_t destination) {
        moved(sources, destination);
    };
    // A move through the list's own model (a drop the list carried out itself) is a drag too.
    connect(list_->model(), &QAbstractItemModel::rowsMoved, this,
            [this](const QModelIndex&, int first, int last, const QModelIndex&, int destination) {
                if (filling_) return;
                std::set<std::size_t> sources;
                for (int row = first; row <= last; ++row) sources.insert(static_cast<std::size_t>(row));
                moved(sources, static_cast<std::size_t>(destination));
            });
    connect(list_, &QListWidget::itemSelectionChanged, this, [this] { selectionChanged(); });
    connect(list_, &QListWidget::currentItemChanged, this, [this] { selectionChanged(); });
    auto* divider = new QFrame(pane);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    column->addWidget(list_, 1);
    column->addWidget(divider);
    column->addWidget(makeBar());
    return pane;
}

QWidget* SettingsView::makeBar() {
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(6, 6, 6, 6);
    row->setSpacing(4);
    add_ = barButton(Texts::addSymbol, bar);
    remove_ = barButton(Texts::removeSymbol, bar);
    connect(add_, &QToolButton::clicked, this, [this] { add(); });
    connect(remove_, &QToolButton::clicked, this, [this] { removeSelected(); });
    count_ = new QLabel(bar);
    count_->setTextFormat(Qt::PlainText);
    count_->setFont(style_.font(TextStyle::caption2));
    QPalette palette = count_->palette();
    palette.setColor(QPalette::WindowText, style_.colour(Tone::secondary));
    count_->setPalette(palette);
    row->addWidget(add_);
    row->addWidget(remove_);
    row->addStretch(1);
    row->addWidget(count_);
    return bar;
}

// The placeholder: the symbol, the title and the description, centred.
QWidget* SettingsView::makeDetail() {
    detail_ = new QStackedWidget(this);
    detail_->setMinimumWidth(rightMinimum);
    placeholder_ = new QWidget(detail_);
    auto* column = new QVBoxLayout(placeholder_);
    column->setSpacing(6);
    auto* symbol = new QLabel(placeholder_);
    symbol->setPixmap(
        tinted(SymbolTable::icon(Texts::placeholderSymbol, *style()), 40, style_.colour(Tone::secondary)));
    auto* title = new QLabel(text(Texts::placeholderTitle), placeholder_);
    QFont bold = style_.font(TextStyle::title3);
    bold.setBold(true);
    title->setFont(bold);
    auto* description = new QLabel(text(Texts::placeholderDescription), placeholder_);
    QPalette secondary = description->palette();
    secondary.setColor(QPalette::WindowText, style_.colour(Tone::secondary));
    description->setPalette(secondary);
    column->addStretch(1);
    for (QLabel* label : {symbol, title, description}) {
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignCenter);
        column->addWidget(label);
    }
    column->addStretch(1);
    editor_ = new QLabel(detail_);
    editor_->setTextFormat(Qt::PlainText);
    editor_->setAlignment(Qt::AlignCenter);
    detail_->addWidget(placeholder_);
    detail_->addWidget(editor_);
    return detail_;
}

// Every change of the saved list or of the unresolved marks redraws the window.
void SettingsView::watchStore() {
    auto& store = actions_->store();
    const auto changed = [this](const auto&) {
        if (moving_) presentLater();
        else present();
    };
    subscriptions_.push_back(store.targets().subscribe(changed, {.skipCurrent = true}));
    subscriptions_.push_back(store.unresolvedTargetIDs().subscribe(changed, {.skipCurrent = true}));
    present();
}

QWidget* SettingsView::detail() const { return detail_->currentWidget(); }

void SettingsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    actions_->appear();
}

void SettingsView::select(const std::vector<std::string>& ids) {
    selection_ = std::set<std::string>(ids.begin(), ids.end());
    current_ = ids.empty() ? std::nullopt : std::optional<std::string>(ids.front());
    present();
}

void SettingsView::present() {
    model_ = actions_->model(selection_, current_);
    fillList();
    add_->setEnabled(model_.canAdd);
    remove_->setEnabled(model_.canRemove);
    count_->setText(QString::fromStdString(model_.count));
    presentDetail();
}

void SettingsView::presentDetail() {
    const auto& selected = model_.selectedTarget;
    if (!selected) return detail_->setCurrentWidget(placeholder_);
    const auto& editing = actions_->editing();
    if (!editing.main) {
        editor_->setText(QString::fromStdString(selected->name));
        return detail_->setCurrentWidget(editor_);
    }
    TargetBinding binding(editing.store, *selected);
    if (!targetEditor_) {
        auto config = editing;
        config.chooser = std::make_shared<QtAppChooser>(
            this, QtAppChooser::Config{.apps = editing.apps, .renderer = editing.iconRenderer});
        targetEditor_ =
            new TargetEditor(TargetEditorActions::create(std::move(config), std::move(binding)), style_, detail_);
        detail_->addWidget(targetEditor_);
    } else if (targetEditor_->actions().targetID() != selected->id) {
        targetEditor_->actions().setBinding(std::move(binding));
    }
    detail_->setCurrentWidget(targetEditor_);
}

// After the list's own signal is done with its rows.
void SettingsView::presentLater() {
    QMetaObject::invokeMethod(
        this, [this] { present(); }, Qt::QueuedConnection);
}

void SettingsView::fillList() {
    filling_ = true;
    list_->clear();
    for (const auto& row : model_.rows) {
        auto* item =
            new QListWidgetItem(SymbolTable::icon(row.symbol, *style()), QString::fromStdString(row.name), list_);
        item->setData(idRole, QString::fromStdString(row.id));
        if (row.unresolved) item->setData(warningRole, text(Texts::warningHelp));
        item->setSelected(row.selected);
        if (current_ && row.id == *current_) list_->setCurrentItem(item, QItemSelectionModel::NoUpdate);
    }
    filling_ = false;
}

void SettingsView::selectionChanged() {
    if (filling_) return;
    selection_.clear();
    for (const QListWidgetItem* item : list_->selectedItems())
        selection_.insert(item->data(idRole).toString().toStdString());
    const QListWidgetItem* current = list_->currentItem();
    current_ = current ? std::optional<std::string>(current->data(idRole).toString().toStdString()) : std::nullopt;
    model_ = actions_->model(selection_, current_);
    remove_->setEnabled(model_.canRemove);
    presentDetail();
}

void SettingsView::moved(const std::set<std::size_t>& sources, std::size_t destination) {
    // The store's change redraws the list, which must wait until the list's own signal is done.
    moving_ = true;
    actions_->move(sources, destination);
    moving_ = false;
}

void SettingsView::add() {
    const auto id = actions_->add();
    if (!id) return;
    select({*id});
}

void SettingsView::removeSelected() {
    const auto ids = selection_;
    selection_.clear();
    current_.reset();
    actions_->remove(ids);
    present();
}

}  // namespace quib
