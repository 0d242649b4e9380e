#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Freedesktop/DesktopEntries.hpp"
#include "Platform/IconRenderer.hpp"
#include "Platform/Tmux/Tmux.hpp"
#include "Platform/Workspace.hpp"
#include "QuibHost/Panel/AppChooser.hpp"
#include "QuibHost/Panel/TargetBinding.hpp"
#include "QuibHost/Panel/TargetEditorModel.hpp"
#include "QuibHost/Targets/TargetStoreService.hpp"
#include "Runtime/Executor.hpp"
#include "Runtime/Published.hpp"
#include "Runtime/Result.hpp"

namespace quib {

// The target editor's state and what its controls do. It edits one saved target through a
// binding, each change one write with no checks of its own, and keeps the two lists its
// pickers offer: the running apps and the tmux panes. The lists belong to the editor, not to
// the target: they stay when the binding moves to another target, until the next refresh.
//
// The model is built again after every write (a write the store refused shows the stored value
// again), every new version of the target and every new list. The lists are refreshed when
// the editor appears and, after that, whenever the target's kind changes, whoever changed it.
// Main executor only, but for `model().value()`.
class TargetEditorActions : public std::enable_shared_from_this<TargetEditorActions> {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    struct Config {
        std::shared_ptr<Executor> main = nullptr;
        // Watched for new versions of the edited target, which bindings write to.
        std::shared_ptr<TargetStoreService> store = nullptr;
        std::shared_ptr<Workspace> workspace = nullptr;
        // The installed entries that name running apps and give chosen files their identifiers.
        std::shared_ptr<DesktopEntries> apps = nullptr;
        Tmux tmux = Tmux();
        // Where panes are listed: the target store's tmux queue.
        std::shared_ptr<Executor> tmuxQueue = nullptr;
        // Asked by "Choose an app…".
        std::shared_ptr<AppChooser> chooser = nullptr;
        // Draws the icons of the apps a chooser on the display offers; none: it reads them itself.
        std::shared_ptr<IconRenderer> iconRenderer = nullptr;
    };

    static std::shared_ptr<TargetEditorActions> create(Config config, TargetBinding binding);
    TargetEditorActions(Passkey, Config config, TargetBinding binding);
    TargetEditorActions(const TargetEditorActions&) = delete;
    TargetEditorActions& operator=(const TargetEditorActions&) = delete;

    Published<TargetEditorModel>& model() { return model_; }
    const std::vector<RunningAppChoice>& runningApps() const { return runningApps_; }
    const std::vector<Tmux::Pane>& tmuxPanes() const { return tmuxPanes_; }

    const std::string& targetID() const { return binding_.id(); }
    // Another target is edited; the lists stay as they are.
    void setBinding(TargetBinding binding);
    // The editor has appeared: `refresh`, and from now on a change of kind refreshes too.
    void appeared(std::function<void()> listed = nullptr);
    // Lists the running apps anew, then `refreshPanes`. `listed` runs once the pane answer is
    // stored.
    void refresh(std::function<void()> listed = nullptr);
    // Without tmux, empties the pane list at once; else lists the panes on the tmux queue and
    // stores the answer here. Nothing cancels an earlier request: the last answer wins.
    void refreshPanes(std::function<void()> listed = nullptr);

    // Each is one write of the whole target with one field changed; the failure is the store's
    // refusal, after which the stored value shows again.
    Result<void> setName(std::string name);
    Result<void> setSymbol(std::string symbol);
    // Only the kind: the app and the pane stay for a switch back.
    Result<void> setKind(QuibTarget::Kind kind);
    // The identifier as typed, so an empty field stores the empty text.
    Result<void> setBundleID(std::string bundleID);
    // A row of "Pick a running app" or "Pane", by its tag.
    Result<void> pickRunningApp(std::string tag);
    Result<void> pickPane(std::string tag);
    Result<void> setAllowAutoSubmit(bool allowed);
    // Refused while pressing Return is not allowed, as the switch is then disabled.
    Result<void> setSubmitOnSend(bool submit);
    // "Choose an app…": the chosen desktop entry of an application becomes the target's app, its
    // buttons follow unless they were pinned, and a blank name takes the entry's. A cancel, or a
    // file that is not an application's entry, changes nothing: false.
    bool chooseApp();

private:
    // The identifier a chosen desktop entry stands for, with its name; none when it is no
    // application's entry.
    struct ChosenApp {
        std::string bundleID;
        std::string name;
    };
    std::optional<ChosenApp> readChosen(const std::filesystem::path& file) const;
    Result<void> write(QuibTarget target);
    void watch();
    void targetChanged();
    void rebuild();
    std::vector<RunningAppChoice> listRunningApps() const;

    Config config_;
    TargetBinding binding_;
    Published<TargetEditorModel> model_;
    Subscription targets_;
    std::vector<RunningAppChoice> runningApps_;
    std::vector<Tmux::Pane> tmuxPanes_;
    bool appeared_ = false;
    std::optional<QuibTarget::Kind> kind_;  // the last kind seen
};

}  // namespace quib
