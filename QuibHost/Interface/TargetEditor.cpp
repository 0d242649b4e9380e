#include "QuibHost/Interface/TargetEditor.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace quib {
namespace {

// A widget or layout made with its parent, which owns it from then on, as Qt's widgets are
// owned; a layout made so is the parent's layout. Made with the parent, a widget never moves
// between focus chains, which reparenting a finished top-level widget would have it do.
template <class Widget, class... Arguments>
Widget* makeChild(QWidget* parent, Arguments&&... arguments) {
    return std::make_unique<Widget>(std::forward<Arguments>(arguments)..., parent).release();
}

QString qt(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// Qt takes "&" on a button, a check box or a group box for the mark of the next letter's
// shortcut; doubled, it shows as itself.
QString withoutMnemonics(std::string_view text) { return qt(text).replace(QLatin1Char('&'), QLatin1String("&&")); }

QLabel* plainLabel(QWidget* parent, std::string_view text = {}) {
    auto* label = makeChild<QLabel>(parent, qt(text));
    label->setTextFormat(Qt::PlainText);
    return label;
}

void setText(QLineEdit& field, const MenuItem* item) {
    const QString text = item ? qt(item->text) : QString();
    if (field.text() == text) return;
    const QSignalBlocker quiet(&field);
    field.setText(text);
}

void setText(QLabel& label, const MenuItem* item) { label.setText(item ? qt(item->text) : QString()); }

void setSwitch(QCheckBox& box, const MenuItem* item) {
    if (!item) return;
    const QSignalBlocker quiet(&box);
    box.setChecked(item->on.value_or(false));
    box.setEnabled(item->enabled);
}

std::string tagOf(const QComboBox& picker, int index) { return picker.itemData(index).toString().toStdString(); }

}  // namespace

TargetEditor::TargetEditor(std::shared_ptr<TargetEditorActions> actions, MenuStyle style, QWidget* parent)
    : QWidget(parent), actions_(std::move(actions)), style_(std::move(style)) {
    auto* column = makeChild<QVBoxLayout>(this);
    makeGeneral();
    makeApplication();
    makeTmux();
    makeFrontmost();
    makeReturns();
    column->addStretch(1);
    connectControls();
    present(actions_->model().value());
    subscription_ =
        actions_->model().subscribe([this](const TargetEditorModel& model) { present(model); }, {.skipCurrent = true});
}

TargetEditor::~TargetEditor() = default;

QGroupBox* TargetEditor::addSection(const QString& title) {
    auto* box = makeChild<QGroupBox>(this, title);
    makeChild<QFormLayout>(box);
    static_cast<QVBoxLayout*>(layout())->addWidget(box);
    return box;
}

QLineEdit* TargetEditor::addField(QFormLayout& form, std::string_view label) {
    auto* field = makeChild<QLineEdit>(form.parentWidget());
    form.addRow(plainLabel(form.parentWidget(), label), field);
    return field;
}

QComboBox* TargetEditor::addPicker(QFormLayout& form, std::string_view label) {
    auto* picker = makeChild<QComboBox>(form.parentWidget());
    form.addRow(plainLabel(form.parentWidget(), label), picker);
    return picker;
}

QLabel* TargetEditor::addValue(QFormLayout& form, std::string_view label) {
    auto* value = plainLabel(form.parentWidget());
    form.addRow(plainLabel(form.parentWidget(), label), value);
    return value;
}

QLabel* TargetEditor::addNote(QFormLayout& form) {
    auto* note = plainLabel(form.parentWidget());
    note->setWordWrap(true);
    note->setFont(style_.font(TextStyle::caption));
    QPalette palette = note->palette();
    palette.setColor(QPalette::WindowText, style_.colour(Tone::secondary));
    note->setPalette(palette);
    form.addRow(note);
    return note;
}

void TargetEditor::makeGeneral() {
    auto& form = *static_cast<QFormLayout*>(addSection({})->layout());
    name_ = addField(form, TargetEditorModel::name);
    symbol_ = addField(form, TargetEditorModel::symbol);
    symbol_->setToolTip(qt(TargetEditorModel::symbolHelp));
    kind_ = addPicker(form, TargetEditorModel::delivery);
}

void TargetEditor::makeApplication() {
    application_ = addSection(withoutMnemonics(TargetEditorModel::applicationHeader));
    auto& form = *static_cast<QFormLayout*>(application_->layout());
    bundleID_ = addField(form, TargetEditorModel::bundleIdentifier);
    runningApp_ = addPicker(form, TargetEditorModel::runningApp);
    chooseApp_ = makeChild<QPushButton>(application_, withoutMnemonics(TargetEditorModel::chooseApp));
    form.addRow(chooseApp_);
    buttons_ = addValue(form, TargetEditorModel::buttons);
    buttons_->setToolTip(qt(TargetEditorModel::buttonsHelp));
    form.labelForField(buttons_)->setToolTip(qt(TargetEditorModel::buttonsHelp));
}

void TargetEditor::makeTmux() {
    tmux_ = addSection(withoutMnemonics(TargetEditorModel::tmuxHeader));
    auto& outer = *static_cast<QFormLayout*>(tmux_->layout());
    tmuxControls_ = makeChild<QWidget>(tmux_);
    auto* form = makeChild<QFormLayout>(tmuxControls_);
    form->setContentsMargins(0, 0, 0, 0);
    pane_ = addPicker(*form, TargetEditorModel::pane);
    paneID_ = addValue(*form, TargetEditorModel::paneID);
    paneID_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    refreshPanes_ = makeChild<QPushButton>(tmuxControls_, withoutMnemonics(TargetEditorModel::refreshPanes));
    form->addRow(refreshPanes_);
    outer.addRow(tmuxControls_);
    tmuxMissing_ = addNote(outer);
    tmuxMissing_->setText(qt(TargetEditorModel::tmuxMissing));
}

void TargetEditor::makeFrontmost() {
    frontmost_ = addSection({});
    addNote(*static_cast<QFormLayout*>(frontmost_->layout()))->setText(qt(TargetEditorModel::frontmostNote));
}

void TargetEditor::makeReturns() {
    auto* box = addSection({});
    auto& form = *static_cast<QFormLayout*>(box->layout());
    allowReturn_ = makeChild<QCheckBox>(box, withoutMnemonics(TargetEditorModel::allowReturn));
    allowReturn_->setToolTip(qt(TargetEditorModel::allowReturnHelp));
    pressReturn_ = makeChild<QCheckBox>(box, withoutMnemonics(TargetEditorModel::pressReturn));
    form.addRow(allowReturn_);
    form.addRow(pressReturn_);
}

// Only what the user does writes: edits and activations, never the updates of `present`.
void TargetEditor::connectControls() {
    auto& actions = *actions_;
    connect(name_, &QLineEdit::textEdited, this,
            [&actions](const QString& text) { (void)actions.setName(text.toStdString()); });
    connect(symbol_, &QLineEdit::textEdited, this,
            [&actions](const QString& text) { (void)actions.setSymbol(text.toStdString()); });
    connect(bundleID_, &QLineEdit::textEdited, this,
            [&actions](const QString& text) { (void)actions.setBundleID(text.toStdString()); });
    connect(kind_, &QComboBox::activated, this, [this](int index) {
        if (auto kind = enumFromName<QuibTarget::Kind>(tagOf(*kind_, index))) (void)actions_->setKind(*kind);
    });
    connect(runningApp_, &QComboBox::activated, this,
            [this](int index) { (void)actions_->pickRunningApp(tagOf(*runningApp_, index)); });
    connect(pane_, &QComboBox::activated, this, [this](int index) { (void)actions_->pickPane(tagOf(*pane_, index)); });
    connect(chooseApp_, &QPushButton::clicked, this, [&actions] { (void)actions.chooseApp(); });
    connect(refreshPanes_, &QPushButton::clicked, this, [&actions] { actions.refreshPanes(); });
    connect(allowReturn_, &QCheckBox::clicked, this, [&actions](bool on) { (void)actions.setAllowAutoSubmit(on); });
    connect(pressReturn_, &QCheckBox::clicked, this, [&actions](bool on) { (void)actions.setSubmitOnSend(on); });
}

// The picker's rows as the model has them, kept when they are the same, and its selection; a
// picker whose selection is no row shows none.
void TargetEditor::showRows(QComboBox& picker, std::string_view label) {
    const auto rows = model_.rows(label);
    bool same = picker.count() == static_cast<int>(rows.size());
    for (int index = 0; same && index < picker.count(); ++index) {
        const auto& row = rows[static_cast<std::size_t>(index)];
        same = picker.itemText(index) == qt(row.text) && tagOf(picker, index) == row.key;
    }
    const QSignalBlocker quiet(&picker);
    if (!same) {
        picker.clear();
        for (const auto& row : rows) picker.addItem(qt(row.text), qt(row.key));
    }
    const auto selected = std::ranges::find_if(rows, &MenuItem::selected);
    picker.setCurrentIndex(selected == rows.end() ? -1 : static_cast<int>(selected - rows.begin()));
}

void TargetEditor::present(const TargetEditorModel& model) {
    model_ = model;
    setText(*name_, model_.control(MenuItemKind::field, TargetEditorModel::name));
    setText(*symbol_, model_.control(MenuItemKind::field, TargetEditorModel::symbol));
    showRows(*kind_, TargetEditorModel::delivery);

    const auto* bundleID = model_.control(MenuItemKind::field, TargetEditorModel::bundleIdentifier);
    application_->setVisible(bundleID != nullptr);
    setText(*bundleID_, bundleID);
    showRows(*runningApp_, TargetEditorModel::runningApp);
    setText(*buttons_, model_.control(MenuItemKind::value, TargetEditorModel::buttons));

    const bool tmuxShown = model_.control(MenuItemKind::text, TargetEditorModel::tmuxHeader) != nullptr;
    const bool tmuxListed = model_.control(MenuItemKind::picker, TargetEditorModel::pane) != nullptr;
    tmux_->setVisible(tmuxShown);
    tmuxControls_->setVisible(tmuxListed);
    tmuxMissing_->setVisible(tmuxShown && !tmuxListed);
    showRows(*pane_, TargetEditorModel::pane);
    setText(*paneID_, model_.control(MenuItemKind::value, TargetEditorModel::paneID));

    frontmost_->setVisible(model_.control(MenuItemKind::text, TargetEditorModel::frontmostNote) != nullptr);
    setSwitch(*allowReturn_, model_.control(MenuItemKind::toggle, TargetEditorModel::allowReturn));
    setSwitch(*pressReturn_, model_.control(MenuItemKind::toggle, TargetEditorModel::pressReturn));
}

void TargetEditor::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) actions_->appeared();
}

}  // namespace quib
