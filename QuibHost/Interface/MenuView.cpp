#include "QuibHost/Interface/MenuView.hpp"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <optional>
#include <string>
#include <vector>

#include "QuibHost/Interface/SymbolTable.hpp"

namespace quib {
namespace {

// A widget made for a parent, which owns it from then on, as Qt's widgets are owned.
template <class Widget, class... Arguments>
Widget* makeChild(QWidget* parent, Arguments&&... arguments) {
    auto widget = std::make_unique<Widget>(std::forward<Arguments>(arguments)...);
    widget->setParent(parent);
    return widget.release();
}

QString qt(const std::string& text) { return QString::fromStdString(text); }

// Qt takes "&" on a button, a check box, a group box or an action for the mark of the next
// letter's shortcut; doubled, it shows as itself.
QString withoutMnemonics(const std::string& text) { return qt(text).replace(QLatin1Char('&'), QLatin1String("&&")); }

void setTone(QWidget& widget, const MenuStyle& style, Tone tone) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, style.colour(tone));
    palette.setColor(QPalette::ButtonText, style.colour(tone));
    widget.setPalette(palette);
}

QPixmap symbolPicture(const std::string& symbol, const QFont& font, const QStyle& style) {
    const int size = QFontMetrics(font).height();
    const QIcon icon = SymbolTable::icon(symbol, style);
    return icon.isNull() ? QPixmap() : icon.pixmap(size, size);
}

// What every item's widget does: show an item of its kind, again and again.
class ItemWidget {
public:
    virtual ~ItemWidget() = default;
    virtual QWidget& widget() = 0;
    virtual void show(const MenuItem& item, const MenuStyle& style) = 0;
};

using ActionSink = std::function<void(const MenuAction&)>;

// A text exactly as the model has it: never read as markup.
class TextItem final : public QLabel, public ItemWidget {
public:
    TextItem() { setTextFormat(Qt::PlainText); }
    QWidget& widget() override { return *this; }
    void show(const MenuItem& item, const MenuStyle& style) override {
        setText(qt(item.text));
        setFont(style.font(item.font));
        setTone(*this, style, item.tone);
        setToolTip(qt(item.help));
        setWordWrap(item.kind != MenuItemKind::title);
        setTextInteractionFlags(item.kind == MenuItemKind::code ? Qt::TextSelectableByMouse : Qt::NoTextInteraction);
    }
};

class SymbolItem final : public QLabel, public ItemWidget {
public:
    SymbolItem() { setTextFormat(Qt::PlainText); }
    QWidget& widget() override { return *this; }
    void show(const MenuItem& item, const MenuStyle& style) override {
        setPixmap(symbolPicture(item.symbol, style.font(item.font), *QWidget::style()));
        setToolTip(qt(item.help));
    }
};

// A symbol and a text side by side.
class LabelItem final : public QWidget, public ItemWidget {
public:
    LabelItem() {
        auto* row = makeChild<QHBoxLayout>(nullptr);
        setLayout(row);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(4);
        symbol_ = makeChild<QLabel>(this);
        symbol_->setTextFormat(Qt::PlainText);
        text_ = makeChild<QLabel>(this);
        text_->setTextFormat(Qt::PlainText);
        text_->setWordWrap(true);
        row->addWidget(symbol_, 0, Qt::AlignTop);
        row->addWidget(text_, 1);
    }
    QWidget& widget() override { return *this; }
    void show(const MenuItem& item, const MenuStyle& style) override {
        const QFont font = style.font(item.font);
        symbol_->setPixmap(symbolPicture(item.symbol, font, *QWidget::style()));
        text_->setText(qt(item.text));
        text_->setFont(font);
        setTone(*text_, style, item.tone);
        setToolTip(qt(item.help));
    }

private:
    QLabel* symbol_;
    QLabel* text_;
};

class ButtonItem final : public QPushButton, public ItemWidget {
public:
    explicit ButtonItem(ActionSink act) {
        connect(this, &QPushButton::clicked, this, [this, act = std::move(act)] {
            if (action_) act(*action_);
        });
    }
    QWidget& widget() override { return *this; }
    void show(const MenuItem& item, const MenuStyle& style) override {
        action_ = item.action;
        setText(withoutMnemonics(item.text));
        setIcon(item.symbol.empty() ? QIcon() : SymbolTable::icon(item.symbol, *QWidget::style()));
        setFont(style.font(item.font));
        setToolTip(qt(item.help));
        setEnabled(item.enabled);
        setDefault(item.isDefault);
    }

private:
    std::optional<MenuAction> action_;
};

// A switch: its action is what working it does from the position it shows.
class ToggleItem final : public QCheckBox, public ItemWidget {
public:
    explicit ToggleItem(ActionSink act) {
        connect(this, &QCheckBox::clicked, this, [this, act = std::move(act)] {
            if (action_) act(*action_);
        });
    }
    QWidget& widget() override { return *this; }
    void show(const MenuItem& item, const MenuStyle& style) override {
        action_ = item.action;
        setText(withoutMnemonics(item.text));
        setFont(style.font(item.font));
        setToolTip(qt(item.help));
        setEnabled(item.enabled);
        setChecked(item.on.value_or(false));
    }

private:
    std::optional<MenuAction> action_;
};

class DotItem final : public QWidget, public ItemWidget {
public:
    DotItem() { setFixedSize(MenuStyle::dotSize, MenuStyle::dotSize); }
    QWidget& widget() override { return *this; }
    void show(const MenuItem& item, const MenuStyle& style) override {
        colour_ = style.colour(item.tone);
        setToolTip(qt(item.help));
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour_);
        painter.drawEllipse(rect());
    }

private:
    QColor colour_;
};

class DividerItem final : public QFrame, public ItemWidget {
public:
    DividerItem() {
        setFrameShape(QFrame::HLine);
        setFrameShadow(QFrame::Sunken);
    }
    QWidget& widget() override { return *this; }
    void show(const MenuItem&, const MenuStyle&) override {}
};

class ProgressItem final : public QProgressBar, public ItemWidget {
public:
    ProgressItem() {
        setRange(0, 0);
        setTextVisible(false);
        setFixedSize(16, 16);
    }
    QWidget& widget() override { return *this; }
    void show(const MenuItem& item, const MenuStyle&) override { setToolTip(qt(item.help)); }
};

std::unique_ptr<ItemWidget> makeItem(MenuItemKind kind, const ActionSink& act) {
    switch (kind) {
        case MenuItemKind::symbol: return std::make_unique<SymbolItem>();
        case MenuItemKind::label: return std::make_unique<LabelItem>();
        case MenuItemKind::button: return std::make_unique<ButtonItem>(act);
        case MenuItemKind::toggle: return std::make_unique<ToggleItem>(act);
        case MenuItemKind::dot: return std::make_unique<DotItem>();
        case MenuItemKind::divider: return std::make_unique<DividerItem>();
        case MenuItemKind::progress: return std::make_unique<ProgressItem>();
        default: return std::make_unique<TextItem>();
    }
}

// An item's identity within its section: its kind, its row's key, and how many items of that
// kind and key came before it.
std::vector<std::string> identities(const std::vector<MenuItem>& items) {
    std::map<std::string, int> seen;
    std::vector<std::string> result;
    for (const auto& item : items) {
        std::string base = std::string(nameOf(item.kind)) + '\x1f' + item.key;
        const int ordinal = seen[base]++;
        result.push_back(base + '\x1f' + std::to_string(ordinal));
    }
    return result;
}

std::unique_ptr<QFrame> makeDivider(QWidget* parent) {
    auto line = std::make_unique<QFrame>(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

}  // namespace

// One visible section: a box holding its items' widgets in lines, and the divider after it.
class MenuView::SectionView {
public:
    SectionView(MenuSection id, QWidget* owner) : id_(id), box_(std::make_unique<QWidget>(owner)),
                                                  divider_(makeDivider(owner)) {}

    QWidget& box() { return *box_; }
    QFrame& divider() { return *divider_; }
    QWidget* item(std::size_t index) const { return index < items_.size() ? &items_[index].widget->widget() : nullptr; }

    void present(const MenuViewSection& section, const MenuStyle& style, const ActionSink& act) {
        auto ids = identities(section.items);
        if (ids != ids_) rebuild(section, ids, act);
        for (std::size_t i = 0; i < items_.size(); ++i) items_[i].widget->show(section.items[i], style);
        if (ids != ids_) layOut(section);
        ids_ = std::move(ids);
    }

private:
    struct Entry {
        std::string identity;
        ItemWidget* widget;  // owned by the box
    };

    // Keeps the widgets of the items that stay, makes those of the new ones and lets the others go.
    void rebuild(const MenuViewSection& section, const std::vector<std::string>& ids, const ActionSink& act) {
        std::map<std::string, ItemWidget*> kept;
        for (auto& entry : items_) kept[entry.identity] = entry.widget;
        items_.clear();
        for (std::size_t i = 0; i < ids.size(); ++i) {
            ItemWidget* widget = nullptr;
            if (auto found = kept.find(ids[i]); found != kept.end()) {
                widget = found->second;
                kept.erase(found);
            } else {
                auto made = makeItem(section.items[i].kind, act);
                made->widget().setParent(box_.get());
                widget = made.release();
            }
            items_.push_back({ids[i], widget});
        }
        for (auto& [identity, widget] : kept) {
            widget->widget().hide();
            widget->widget().deleteLater();
        }
    }

    // Lines top to bottom; within a line, items side by side, those placed under another
    // stacked with it, and an item at the end after a flexible space.
    void layOut(const MenuViewSection& section) {
        std::unique_ptr<QLayout>(box_->layout()).reset();
        const auto spacing = MenuStyle::spacing(id_);
        auto* column = makeChild<QVBoxLayout>(nullptr);
        box_->setLayout(column);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(spacing.lines);
        QHBoxLayout* line = nullptr;
        QVBoxLayout* stack = nullptr;
        for (std::size_t i = 0; i < items_.size(); ++i) {
            const Placement place = section.items[i].place;
            QWidget& widget = items_[i].widget->widget();
            if (place == Placement::under && stack) {
                stack->addWidget(&widget);
                continue;
            }
            if (place == Placement::line || !line) {
                line = makeChild<QHBoxLayout>(nullptr);
                line->setSpacing(spacing.items);
                column->addLayout(line);
            }
            if (place == Placement::end) line->addStretch(1);
            const bool stacking = i + 1 < items_.size() && section.items[i + 1].place == Placement::under;
            if (stacking) {
                stack = makeChild<QVBoxLayout>(nullptr);
                stack->setSpacing(spacing.stacked);
                line->addLayout(stack, 1);
                stack->addWidget(&widget);
            } else {
                stack = nullptr;
                line->addWidget(&widget, 0, Qt::AlignVCenter);
            }
        }
    }

    MenuSection id_;
    std::unique_ptr<QWidget> box_;
    std::unique_ptr<QFrame> divider_;
    std::vector<Entry> items_;
    std::vector<std::string> ids_;
};

MenuView::MenuView(MenuStyle style, QWidget* parent) : QWidget(parent), style_(std::move(style)) {
    column_ = makeChild<QVBoxLayout>(nullptr);
    setLayout(column_);
    column_->setContentsMargins(MenuStyle::padding, MenuStyle::padding, MenuStyle::padding, MenuStyle::padding);
    column_->setSpacing(MenuStyle::sectionSpacing);
    setFixedWidth(MenuStyle::width);
}

MenuView::~MenuView() = default;

void MenuView::present(const MenuViewModel& model) {
    const ActionSink act = [this](const MenuAction& action) { this->act(action); };
    for (auto it = sections_.begin(); it != sections_.end();) {
        if (model.section(it->first)) ++it;
        else it = sections_.erase(it);
    }
    for (const auto& section : model.sections) {
        auto& view = sections_[section.id];
        if (!view) view = std::make_unique<SectionView>(section.id, this);
        view->present(section, style_, act);
    }
    setWindowTitle(qt(model.title));
    model_ = model;
    arrange();
}

// The sections in the model's order, each followed by its divider when it has one.
void MenuView::arrange() {
    while (auto item = std::unique_ptr<QLayoutItem>(column_->takeAt(0))) {}
    for (const auto& section : model_.sections) {
        auto& view = *sections_.at(section.id);
        column_->addWidget(&view.box());
        view.box().show();
        if (section.dividerAfter) column_->addWidget(&view.divider());
        view.divider().setVisible(section.dividerAfter);
    }
    column_->addStretch(1);
    column_->activate();
    adjustSize();
}

void MenuView::act(const MenuAction& action) {
    if (onAction_) onAction_(action);
}

QWidget* MenuView::itemWidget(MenuSection section, std::size_t index) const {
    const auto found = sections_.find(section);
    return found == sections_.end() ? nullptr : found->second->item(index);
}

QRect MenuView::itemGeometry(MenuSection section, std::size_t index) const {
    const QWidget* widget = itemWidget(section, index);
    if (!widget) return {};
    return QRect(widget->mapTo(this, QPoint(0, 0)), widget->size());
}

void MenuView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (onAppeared_ && !event->spontaneous()) onAppeared_();
}

}  // namespace quib
