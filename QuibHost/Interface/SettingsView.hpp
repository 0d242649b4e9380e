#pragma once

#include <QListWidget>
#include <QWidget>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "QuibHost/Interface/MenuStyle.hpp"
#include "QuibHost/Interface/TargetEditor.hpp"
#include "QuibHost/Panel/SettingsActions.hpp"
#include "QuibHost/Panel/SettingsViewModel.hpp"
#include "Runtime/Published.hpp"

class QLabel;
class QStackedWidget;
class QToolButton;

namespace quib {

// The settings window: the saved targets on the left, with "plus", "minus" and their count
// below, and the selected target, or a placeholder, on the right. It draws the settings model
// and nothing else, and redraws it whenever the store changes, so the store stays the only
// truth: a drag or a button only calls its action. The selection is the window's own and starts
// empty; closing the window destroys it.
class SettingsView final : public QWidget {
public:
    static constexpr int windowWidth = 640;
    static constexpr int windowHeight = 460;
    static constexpr int leftMinimum = 210;
    static constexpr int rightMinimum = 340;

    // The list's rows: a drop, read as the rows it moves and the row they go before, is
    // handed on instead of moving the rows here.
    class TargetList final : public QListWidget {
    public:
        explicit TargetList(QWidget* parent);
        std::function<void(const std::set<std::size_t>& sources, std::size_t destination)> onDrop;

    protected:
        void dropEvent(QDropEvent* event) override;
    };

    // Main thread; `actions` outlive the window.
    SettingsView(std::shared_ptr<SettingsActions> actions, MenuStyle style, QWidget* parent = nullptr);
    ~SettingsView() override;

    // The rows of these ids become the selection, the first of them current.
    void select(const std::vector<std::string>& ids);
    const std::set<std::string>& selection() const { return selection_; }
    const SettingsViewModel& model() const { return model_; }

    TargetList& list() { return *list_; }
    QToolButton& addButton() { return *add_; }
    QToolButton& removeButton() { return *remove_; }
    QLabel& countLabel() { return *count_; }
    // The right pane's widget shown now: the editor or the placeholder.
    QWidget* detail() const;
    QWidget* placeholder() const { return placeholder_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeList();
    QWidget* makeBar();
    QWidget* makeDetail();
    void watchStore();
    void present();
    void presentLater();
    void presentDetail();
    void fillList();
    void selectionChanged();
    void moved(const std::set<std::size_t>& sources, std::size_t destination);
    void add();
    void removeSelected();

    std::shared_ptr<SettingsActions> actions_;
    MenuStyle style_;
    SettingsViewModel model_;
    std::set<std::string> selection_;
    std::optional<std::string> current_;
    bool filling_ = false;  // the list is being redrawn: its signals are the window's own
    bool moving_ = false;   // a drag is being stored: the list redraws once its signal is done
    std::vector<Subscription> subscriptions_;

    TargetList* list_ = nullptr;
    QToolButton* add_ = nullptr;
    QToolButton* remove_ = nullptr;
    QLabel* count_ = nullptr;
    QStackedWidget* detail_ = nullptr;
    QWidget* placeholder_ = nullptr;
    QLabel* editor_ = nullptr;  // the selected target's name, where no editor can be made
    // The selected target's editor: made for the first selected target, then kept, its lists
    // with it, as the selection moves on.
    TargetEditor* targetEditor_ = nullptr;
};

}  // namespace quib
