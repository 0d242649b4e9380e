#pragma once

#include <QWidget>

#include <memory>

#include "QuibHost/Interface/MenuStyle.hpp"
#include "QuibHost/Panel/TargetEditorActions.hpp"
#include "QuibHost/Panel/TargetEditorModel.hpp"
#include "Runtime/Published.hpp"

class QCheckBox;
class QComboBox;
class QFormLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quib {

// The form that edits one saved target, in three grouped sections: the name, symbol and kind;
// the kind's own controls; the Return switches. It shows the editor's model and hands every
// change to the editor's actions, one write per edit (a text field writes on each keystroke).
// A new model updates the widgets in place, so typing keeps its cursor and an open picker
// stays open; a value the store refused shows the stored one again.
class TargetEditor final : public QWidget {
public:
    TargetEditor(std::shared_ptr<TargetEditorActions> actions, MenuStyle style, QWidget* parent = nullptr);
    ~TargetEditor() override;

    void present(const TargetEditorModel& model);
    const TargetEditorModel& model() const { return model_; }
    TargetEditorActions& actions() { return *actions_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QGroupBox* addSection(const QString& title);
    QLineEdit* addField(QFormLayout& form, std::string_view label);
    QComboBox* addPicker(QFormLayout& form, std::string_view label);
    QLabel* addValue(QFormLayout& form, std::string_view label);
    QLabel* addNote(QFormLayout& form);
    void makeGeneral();
    void makeApplication();
    void makeTmux();
    void makeFrontmost();
    void makeReturns();
    void connectControls();
    void showRows(QComboBox& picker, std::string_view label);

    std::shared_ptr<TargetEditorActions> actions_;
    MenuStyle style_;
    TargetEditorModel model_;
    Subscription subscription_;

    QLineEdit* name_ = nullptr;
    QLineEdit* symbol_ = nullptr;
    QComboBox* kind_ = nullptr;
    QGroupBox* application_ = nullptr;
    QLineEdit* bundleID_ = nullptr;
    QComboBox* runningApp_ = nullptr;
    QPushButton* chooseApp_ = nullptr;
    QLabel* buttons_ = nullptr;
    QGroupBox* tmux_ = nullptr;
    QWidget* tmuxControls_ = nullptr;
    QComboBox* pane_ = nullptr;
    QLabel* paneID_ = nullptr;
    QPushButton* refreshPanes_ = nullptr;
    QLabel* tmuxMissing_ = nullptr;
    QGroupBox* frontmost_ = nullptr;
    QCheckBox* allowReturn_ = nullptr;
    QCheckBox* pressReturn_ = nullptr;
};

}  // namespace quib
