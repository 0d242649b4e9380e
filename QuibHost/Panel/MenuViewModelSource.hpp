#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "QuibHost/Panel/HostState.hpp"
#include "QuibHost/Panel/MenuActions.hpp"
#include "QuibHost/Panel/MenuViewModel.hpp"
#include "QuibHost/Panel/MenuViewState.hpp"
#include "QuibHost/Server/DeviceRegistry.hpp"
#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Targets/TargetStoreService.hpp"
#include "Runtime/Executor.hpp"
#include "Runtime/Published.hpp"

namespace quib {

// The panel's model, kept current while something shows it: it watches every published value
// the panel reads (the server's, the host state's, the device registry's, the approval broker's,
// the target store's and remote reach's) and, after any change, builds the model again once the
// main executor's current task is done, so that a burst of changes in one task gives one new
// model. While nothing shows it (no panel, as on a computer without a display) a change only
// marks the model stale: `current()` and the next `show()` build it. It also
// holds the one thing the panel keeps of its own, the push relay's summary, which it asks for
// each time the panel appears. Main executor only, but for `model().value()`.
class MenuViewModelSource : public std::enable_shared_from_this<MenuViewModelSource> {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    struct Config {
        std::shared_ptr<Executor> main = nullptr;
        std::shared_ptr<HostServer> server = nullptr;  // its approval broker and remote reach too
        std::shared_ptr<TargetStoreService> store = nullptr;
        std::shared_ptr<HostState> state = nullptr;
        std::shared_ptr<DeviceRegistry> registry = nullptr;
        // Asked for the push summary when the panel appears; none: nothing is asked.
        std::shared_ptr<MenuActions> actions = nullptr;
    };

    // How long `appeared` waits for the answers it asked for.
    static constexpr std::chrono::seconds settleLimit{1};

    // Builds the first model at once.
    static std::shared_ptr<MenuViewModelSource> create(Config config);
    MenuViewModelSource(Passkey, Config config);
    MenuViewModelSource(const MenuViewModelSource&) = delete;
    MenuViewModelSource& operator=(const MenuViewModelSource&) = delete;

    // The model is shown (by the panel) for as long as the returned subscription lives: it is
    // brought up to date now and kept so after every change.
    Subscription show();

    Published<MenuViewModel>& model() { return model_; }
    // The model with every change so far in it: built now when a change is still waiting.
    MenuViewModel current();
    // Every value the panel reads, as it stands now.
    MenuViewState snapshot() const;

    // The panel has appeared: the push summary is asked for again. `settled` (when given) runs
    // once the answer is in the model, or after `settleLimit` when it is late.
    void appeared(std::function<void()> settled = nullptr);

private:
    void watch();
    template <class T>
    void watch(Published<T>& value);
    void changed();
    void rebuild();

    Config config_;
    Published<MenuViewModel> model_;
    std::vector<Subscription> subscriptions_;
    std::string push_;
    bool waiting_ = false;  // a change is not in the model yet
    int shown_ = 0;         // how many show it
};

}  // namespace quib
