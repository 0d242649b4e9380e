#include "QuibHost/Interface/MenuView.hpp"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "QuibHost/Interface/SymbolTable.hpp"
#include "QuibHost/Panel/TextElision.hpp"

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
    // A picker's rows: the choice items that follow it.
    virtual void choose(const std::vector<MenuItem>&) {}
};

using ActionSink = std::function<void(const MenuAction&)>;

// A text exactly as the model has it: never read as markup, but for the one kind that is.
class TextItem final : public QLabel, public ItemWidget {
public:
    TextItem() { setTextFormat(Qt::PlainText); }
    QWidget& widget() override { return *this; }
    void show(const MenuItem& item, const MenuStyle& style) override {
        setTextFormat(item.kind == MenuItemKind::markdown ? Qt::MarkdownText : Qt::PlainText);
        setText(qt(item.text));
        setFont(style.font(item.font));
        setTone(*this, style, item.tone);
        setToolTip(qt(item.help));
        setWordWrap(item.kind != MenuItemKind::title);
        setTextInteractionFlags(item.kind == MenuItemKind::code ? Qt::TextSelectableByMouse : Qt::NoTextInteraction);
        // The nested lines ask a wrapped text its height for its own preferred width, which
        // leaves a text of three lines or more cut short in the panel's narrower column: it gets
        // its height for the width it is drawn at, up to that of its most lines.
        const int width = textWidth(item);
        const int whole = wordWrap() ? heightForWidth(width) : sizeHint().height();
        const int most = item.lines ? heightOfLines(*item.lines, width) : QWIDGETSIZE_MAX;
        setMaximumHeight(most);
        setMinimumHeight(std::max(0, std::min(whole, most)));
        // A text longer than its lines keeps its first ones whole: the rest is cut at the bottom.
        setAlignment(item.lines ? Qt::AlignLeft | Qt::AlignTop : Qt::AlignLeft | Qt::AlignVCenter);
    }

private:
    // The height of a text of exactly `lines` lines, as this label draws it.
    int heightOfLines(int lines, int width) {
        const QString shown = text();
        setText(QStringList(lines, QStringLiteral("X")).join(QLatin1Char('\n')));
        const int height = heightForWidth(width);
        setText(shown);
        return height;
    }
    static int textWidth(const MenuItem& item) {
        return item.fill == Fill::none ? MenuStyle::width - 2 * MenuStyle::padding : MenuStyle::cardTextWidth;
    }
};

// A long text in a card: at most its lines, cut in the middle to fit them as this font draws
// it. It can be selected; copying copies the whole text, not what is shown of it.
class DetailItem final : public QLabel, public ItemWidget {
public:
    DetailItem() {
        setTextFormat(Qt::PlainText);
        setWordWrap(false);  // the lines are broken here, as the cut reckons them
        setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        setFocusPolicy(Qt::ClickFocus);
    }
    QWidget& widget() override { return *this; }
    void show(const MenuItem& item, const MenuStyle& style) override {
        whole_ = item.text;
        setFont(style.font(item.font));
        setTone(*this, style, item.tone);
        setToolTip(qt(item.help));
        const QFontMetricsF metrics(font());
        const TextMeasure measure = [metrics](std::string_view text) {
            return metrics.horizontalAdvance(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
        };
        const double width = MenuStyle::cardTextWidth;
        const auto lines = wrapLines(elideMiddle(whole_, item.lines.value_or(1), width, measure), width, measure);
        QStringList shown;
        for (const auto& line : lines) shown << qt(line);
        setText(shown.join(QLatin1Char('\n')));
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (!event->matches(QKeySequence::Copy)) return QLabel::keyPressEvent(event);
        copyWhole();
        event->accept();
    }
    void contextMenuEvent(QContextMenuEvent* event) override {
        QMenu menu;
        QAction* copy = menu.addAction(QIcon::fromTheme(QStringLiteral("edit-copy")),
                                       QCoreApplication::translate("QWidgetTextControl", "&Copy"));
        copy->setShortcut(QKeySequence::Copy);
        connect(copy, &QAction::triggered, this, [this] { copyWhole(); });
        menu.exec(event->globalPos());
    }

private:
    void copyWhole() const { QGuiApplication::clipboard()->setText(qt(whole_)); }

    std::string whole_;
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
        text_->setMinimumHeight(
            text_->heightForWidth(MenuStyle::width - 2 * MenuStyle::padding - symbol_->sizeHint().width()));
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
        if (item.small) setFont(style.font(TextStyle::caption));
        setToolTip(qt(item.help));
        setEnabled(item.enabled);
        setDefault(item.isDefault);
        setFlat(item.borderless);
        // A button is as wide as its text, at the line's start, never a bar across the panel.
        setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
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

// A pop-up choice of the rows that follow it. Only the user's choosing acts; a selection the
// model names that is no row shows an empty box.
class PickerItem final : public QComboBox, public ItemWidget {
public:
    explicit PickerItem(ActionSink act) {
        connect(this, &QComboBox::activated, this, [this, act = std::move(act)](int index) {
            if (index >= 0 && static_cast<std::size_t>(index) < actions_.size() && actions_[index])
                act(*actions_[index]);
        });
    }
    QWidget& widget() override { return *this; }
    void show(const MenuItem& item, const MenuStyle& style) override {
        setFont(style.font(TextStyle::caption));
        setToolTip(qt(item.help));
        setEnabled(item.enabled);
    }
    void choose(const std::vector<MenuItem>& rows) override {
        const QSignalBlocker quiet(this);
        std::vector<std::pair<std::string, std::string>> wanted;
        for (const auto& row : rows) wanted.emplace_back(row.key, row.text);
        if (wanted != shown_) {
            clear();
            for (const auto& [key, text] : wanted) addItem(qt(text), qt(key));
            shown_ = std::move(wanted);
        }
        actions_.clear();
        int selected = -1;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            actions_.push_back(rows[i].action);
            if (rows[i].selected) selected = static_cast<int>(i);
        }
        setCurrentIndex(selected);
    }

private:
    std::vector<std::pair<std::string, std::string>> shown_;
    std::vector<std::optional<MenuAction>> actions_;
};

// A picker's row: drawn by the picker, so nothing of its own.
class ChoiceItem final : public QWidget, public ItemWidget {
public:
    QWidget& widget() override { return *this; }
    void show(const MenuItem&, const MenuStyle&) override {}
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

// An indeterminate progress indicator: a ring of dots whose darkest one goes round while it is
// shown.
class ProgressItem final : public QWidget, public ItemWidget {
public:
    static constexpr int dots = 8;

    ProgressItem() {
        setFixedSize(16, 16);
        timer_.setInterval(100);
        connect(&timer_, &QTimer::timeout, this, [this] {
            step_ = (step_ + 1) % dots;
            update();
        });
    }
    QWidget& widget() override { return *this; }
    void show(const MenuItem& item, const MenuStyle& style) override {
        ink_ = style.colour(Tone::secondary);
        setToolTip(qt(item.help));
    }

protected:
    void showEvent(QShowEvent* event) override {
        QWidget::showEvent(event);
        timer_.start();
    }
    void hideEvent(QHideEvent* event) override {
        QWidget::hideEvent(event);
        timer_.stop();
    }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.translate(width() / 2.0, height() / 2.0);
        const double radius = std::min(width(), height()) / 2.0;
        for (int dot = 0; dot < dots; ++dot) {
            // The dot of this step is the darkest, those behind it fade out.
            const int behind = (step_ - dot + dots) % dots;
            QColor colour = ink_;
            colour.setAlphaF(1.0 - 0.11 * behind);
            painter.setBrush(colour);
            painter.save();
            painter.rotate(360.0 * dot / dots);
            painter.drawEllipse(QPointF(0, -radius * 0.68), radius * 0.2, radius * 0.2);
            painter.restore();
        }
    }

private:
    QTimer timer_;
    int step_ = 0;
    QColor ink_ = Qt::gray;
};

// The rounded, tinted box behind a banner or a card.
class FilledBox final : public QWidget {
public:
    FilledBox(QColor colour, QWidget* parent) : QWidget(parent), colour_(colour) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour_);
        painter.drawRoundedRect(rect(), MenuStyle::fillRadius, MenuStyle::fillRadius);
    }

private:
    QColor colour_;
};

std::unique_ptr<ItemWidget> makeItem(const MenuItem& item, const ActionSink& act) {
    if (item.kind == MenuItemKind::code && item.lines) return std::make_unique<DetailItem>();
    switch (item.kind) {
        case MenuItemKind::symbol: return std::make_unique<SymbolItem>();
        case MenuItemKind::label: return std::make_unique<LabelItem>();
        case MenuItemKind::button: return std::make_unique<ButtonItem>(act);
        case MenuItemKind::toggle: return std::make_unique<ToggleItem>(act);
        case MenuItemKind::picker: return std::make_unique<PickerItem>(act);
        case MenuItemKind::choice: return std::make_unique<ChoiceItem>();
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
    SectionView(MenuSection id, QWidget* owner)
        : id_(id), box_(std::make_unique<QWidget>(owner)), divider_(makeDivider(owner)) {}

    QWidget& box() { return *box_; }
    QFrame& divider() { return *divider_; }
    QWidget* item(std::size_t index) const { return index < items_.size() ? &items_[index].widget->widget() : nullptr; }

    void present(const MenuViewSection& section, const MenuStyle& style, const ActionSink& act) {
        auto ids = identities(section.items);
        if (ids != ids_) rebuild(section, ids, act);
        for (std::size_t i = 0; i < items_.size(); ++i) items_[i].widget->show(section.items[i], style);
        for (std::size_t i = 0; i < items_.size(); ++i)
            if (section.items[i].kind == MenuItemKind::picker) items_[i].widget->choose(choicesAfter(section.items, i));
        if (ids != ids_) layOut(section, style);
        ids_ = std::move(ids);
    }

private:
    struct Entry {
        std::string identity;
        ItemWidget* widget;  // owned by the box
    };

    static std::vector<MenuItem> choicesAfter(const std::vector<MenuItem>& items, std::size_t picker) {
        std::vector<MenuItem> rows;
        for (std::size_t i = picker + 1; i < items.size() && items[i].kind == MenuItemKind::choice; ++i)
            rows.push_back(items[i]);
        return rows;
    }

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
                auto made = makeItem(section.items[i], act);
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
    // A run of items with one fill and one key goes in a box of its own.
    void layOut(const MenuViewSection& section, const MenuStyle& style) {
        std::unique_ptr<QLayout>(box_->layout()).reset();
        for (auto& entry : items_)
            if (entry.widget->widget().parentWidget() != box_.get()) entry.widget->widget().setParent(box_.get());
        fills_.clear();
        const auto spacing = MenuStyle::spacing(id_);
        auto* column = makeChild<QVBoxLayout>(nullptr);
        box_->setLayout(column);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(spacing.lines);
        QVBoxLayout* lines = column;
        QHBoxLayout* line = nullptr;
        QVBoxLayout* stack = nullptr;
        bool lineHasStack = false;
        for (std::size_t i = 0; i < items_.size(); ++i) {
            const MenuItem& item = section.items[i];
            const Placement place = item.place;
            QWidget& widget = items_[i].widget->widget();
            if (item.kind == MenuItemKind::choice) continue;
            if (i == 0 || item.fill != section.items[i - 1].fill || item.key != section.items[i - 1].key) {
                lines = item.fill == Fill::none ? column : filledLines(*column, style.fill(item.fill));
                line = nullptr;
                stack = nullptr;
            }
            if (place == Placement::under && stack) {
                stack->addWidget(&widget);
                continue;
            }
            if (place == Placement::line || !line) {
                line = makeChild<QHBoxLayout>(nullptr);
                line->setSpacing(spacing.items);
                lines->addLayout(line);
                lineHasStack = false;
            }
            // A stack in the line takes the spare room already, and keeps its text unwrapped.
            if (place == Placement::end && !lineHasStack) line->addStretch(1);
            const bool stacking = i + 1 < items_.size() && section.items[i + 1].place == Placement::under;
            if (stacking) {
                stack = makeChild<QVBoxLayout>(nullptr);
                stack->setSpacing(spacing.stacked);
                line->addLayout(stack, 1);
                lineHasStack = true;
                stack->addWidget(&widget);
            } else {
                stack = nullptr;
                line->addWidget(&widget, 0, Qt::AlignVCenter);
                // A button alone on its line stays at the line's start.
                const bool alone = i + 1 == items_.size() || section.items[i + 1].place == Placement::line;
                if (item.kind == MenuItemKind::button && place == Placement::line && alone) line->addStretch(1);
            }
        }
        for (std::size_t i = 0; i < items_.size(); ++i)
            items_[i].widget->widget().setVisible(section.items[i].kind != MenuItemKind::choice);
    }

    QVBoxLayout* filledLines(QVBoxLayout& column, QColor colour) {
        auto& box = *fills_.emplace_back(std::make_unique<FilledBox>(colour, box_.get()));
        auto* lines = makeChild<QVBoxLayout>(nullptr);
        box.setLayout(lines);
        lines->setContentsMargins(MenuStyle::fillPadding, MenuStyle::fillPadding, MenuStyle::fillPadding,
                                  MenuStyle::fillPadding);
        lines->setSpacing(MenuStyle::fillSpacing);
        column.addWidget(&box);
        box.show();
        return lines;
    }

    MenuSection id_;
    std::unique_ptr<QWidget> box_;
    std::unique_ptr<QFrame> divider_;
    std::vector<Entry> items_;
    std::vector<std::unique_ptr<FilledBox>> fills_;
    std::vector<std::string> ids_;
};

// The column sits in a scroll area, so that a panel taller than the room it has still reaches
// its last item.
MenuView::MenuView(MenuStyle style, QWidget* parent) : QWidget(parent), style_(std::move(style)) {
    auto* outer = makeChild<QVBoxLayout>(nullptr);
    setLayout(outer);
    outer->setContentsMargins(0, 0, 0, 0);
    scroll_ = makeChild<QScrollArea>(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setWidgetResizable(true);
    outer->addWidget(scroll_);
    auto content = std::make_unique<QWidget>();
    content_ = content.get();
    column_ = makeChild<QVBoxLayout>(nullptr);
    content_->setLayout(column_);
    column_->setContentsMargins(MenuStyle::padding, MenuStyle::padding, MenuStyle::padding, MenuStyle::padding);
    column_->setSpacing(MenuStyle::sectionSpacing);
    content_->setFixedWidth(MenuStyle::width);
    scroll_->setWidget(content.release());
    fit();
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
        if (!view) view = std::make_unique<SectionView>(section.id, content_);
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
    fit();
}

void MenuView::setHeightLimit(std::optional<int> limit) {
    heightLimit_ = limit;
    fit();
}

int MenuView::contentHeight() const {
    const int wanted =
        content_->hasHeightForWidth() ? content_->heightForWidth(MenuStyle::width) : content_->sizeHint().height();
    return std::max(wanted, content_->minimumSizeHint().height());
}

// As tall as the column, up to the limit; past it the column scrolls, with its scroll bar beside
// it, so that the column keeps its width.
void MenuView::fit() {
    const QScreen* shownOn = screen();
    const int limit = heightLimit_.value_or(shownOn ? shownOn->availableGeometry().height() : QWIDGETSIZE_MAX);
    const int height = contentHeight();
    const bool scrolls = height > limit;
    const int bar = scrolls ? scroll_->verticalScrollBar()->sizeHint().width() : 0;
    scroll_->setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    setFixedSize(MenuStyle::width + bar, std::max(1, std::min(height, limit)));
    // The column is laid out at once, shown or not, as the scroll area would lay it out.
    content_->resize(MenuStyle::width, height);
    column_->activate();
}

void MenuView::scrollTo(QWidget& widget) { scroll_->ensureWidgetVisible(&widget, 0, 0); }

// Return presses the first control the model marks as the default.
void MenuView::pressDefault() {
    for (const auto& section : model_.sections) {
        for (const auto& item : section.items) {
            if (item.isDefault && item.enabled && item.action) return act(*item.action);
        }
    }
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

// Return and Enter come here when the widget with the focus leaves them (no control here
// takes them), and press the default control.
void MenuView::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) return QWidget::keyPressEvent(event);
    pressDefault();
    event->accept();
}

void MenuView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (onAppeared_ && !event->spontaneous()) onAppeared_();
}

}  // namespace quib
