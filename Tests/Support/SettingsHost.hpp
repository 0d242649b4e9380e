#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Headless/HeadlessWorkspace.hpp"
#include "QuibHost/Panel/SettingsActions.hpp"
#include "QuibHost/Targets/TargetStore.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/MainLoop.hpp"
#include "Shared/QuibCoder.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib::testing {

// The real target store over in-memory settings, with a tmux that lists no pane and counts how
// often it was asked, and the settings window's actions on it; on a main loop of the test's
// own, or on the `main` executor that `pump` runs.
class SettingsHost {
public:
    // The store starts with these saved targets (none: an empty list, not a first run's).
    explicit SettingsHost(const std::vector<QuibTarget>& saved = {}, std::shared_ptr<Executor> mainExecutor = nullptr,
                          std::function<void()> pumpMain = nullptr)
        : main(mainExecutor ? std::move(mainExecutor) : loop_),
          pump(pumpMain ? std::move(pumpMain) : std::function<void()>([loop = loop_] { loop->runPending(); })) {
        previousSink_ = Logger::setSink(log);
        (void)settings->setBool(TargetStore::seededPanesKey, true);
        const auto first = saved.empty() ? std::vector{frontmost()} : saved;
        (void)settings->setBytes(TargetStore::defaultsKey, bytesOf(*QuibCoder::line(first)));
        auto deliveries = std::make_shared<DeliveryLog>(DeliveryLog::Config{.dataHome = scratch.path, .clock = clock});
        const Tmux::Runner counting = [listings = listings](const auto&, const auto& arguments, auto) {
            if (!arguments.empty() && arguments.front() == "list-panes") ++*listings;
            Subprocess::Result result;
            result.ok = true;
            return result;
        };
        auto apps = std::make_shared<DesktopEntries>(std::vector{scratch.path / "applications"});
        store = TargetStore::create({.main = main,
                                     .settings = settings,
                                     .clock = clock,
                                     .log = deliveries,
                                     .tmux = Tmux({"/bin/sh"}, counting),
                                     .apps = apps,
                                     .workspace = std::make_shared<HeadlessWorkspace>(apps)});
        settle();
        if (saved.empty()) onMain([&] { store->remove({"F"}); });
        actions = std::make_shared<SettingsActions>(SettingsActions::Config{.store = store});
        *listings = 0;
    }
    ~SettingsHost() {
        actions.reset();
        store.reset();
        pump();
        Logger::setSink(previousSink_);
    }
    SettingsHost(const SettingsHost&) = delete;
    SettingsHost& operator=(const SettingsHost&) = delete;

    static QuibTarget frontmost() {
        QuibTarget target;
        target.id = "F";
        target.name = "Focused";
        return target;
    }

    void onMain(const std::function<void()>& work) {
        main->post(work);
        pump();
    }
    // Lets the store's tmux queries finish and applies what they found.
    void settle() {
        (void)store->tmuxQueue().sync([] {});
        pump();
    }
    std::vector<std::string> ids() const {
        std::vector<std::string> out;
        for (const auto& target : store->targets().value()) out.push_back(target.id);
        return out;
    }
    // The list as stored in the settings.
    Json stored() const {
        const auto bytes = settings->bytes(TargetStore::defaultsKey);
        return bytes ? Json::parse(textOf(*bytes), nullptr, false) : Json();
    }

    ScratchFolder scratch{"settings"};

private:
    std::shared_ptr<FakeClock> clock_ = std::make_shared<FakeClock>();
    std::shared_ptr<MainLoop> loop_ = std::make_shared<MainLoop>(clock_);

public:
    std::shared_ptr<FakeClock> clock = clock_;
    std::shared_ptr<Executor> main;
    std::function<void()> pump;  // runs what was posted to `main`
    std::shared_ptr<Settings> settings = Settings::inMemory();
    std::shared_ptr<CapturingLogSink> log = std::make_shared<CapturingLogSink>();
    std::shared_ptr<std::atomic<int>> listings = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<TargetStore> store;
    std::shared_ptr<SettingsActions> actions;

private:
    std::shared_ptr<LogSink> previousSink_;
};

}  // namespace quib::testing
