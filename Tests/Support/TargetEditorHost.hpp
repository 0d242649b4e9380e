#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Headless/HeadlessWorkspace.hpp"
#include "QuibHost/Panel/GivenAppChooser.hpp"
#include "QuibHost/Panel/TargetEditorActions.hpp"
#include "QuibHost/Targets/TargetStore.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/MainLoop.hpp"
#include "Tests/Support/FixedWorkspace.hpp"
#include "Tests/Support/HeldQueue.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib::testing {

// A target store of its own, a tmux that answers each listing with the panes the test set
// then, the running apps and installed entries the test made, pane listings held until the
// test answers them, and a target editor on one saved target with the versions of it the store
// published (one per stored write) recorded.
class TargetEditorHost {
public:
    // On a main loop the test pumps.
    TargetEditorHost() : TargetEditorHost(nullptr, nullptr) {}
    // On another main executor, and how to run what was posted to it.
    TargetEditorHost(std::shared_ptr<Executor> executor, std::function<void()> pumping) {
        if (!executor) {
            auto loop = std::make_shared<MainLoop>(clock);
            pumping = [loop] { loop->runPending(); };
            executor = loop;
        }
        main = std::move(executor);
        pump = std::move(pumping);
        previousSink = Logger::setSink(log);
        std::filesystem::create_directories(tmuxFolder);
        std::ofstream(tmuxFolder / "tmux") << "#!/bin/sh\n";
        std::filesystem::permissions(tmuxFolder / "tmux", std::filesystem::perms::owner_all);
        auto deliveries = std::make_shared<DeliveryLog>(DeliveryLog::Config{.dataHome = scratch.path, .clock = clock});
        store = TargetStore::create({.main = main,
                                     .settings = Settings::inMemory(),
                                     .clock = clock,
                                     .log = deliveries,
                                     .tmux = tmux(),
                                     .apps = apps,
                                     .workspace = std::make_shared<HeadlessWorkspace>(apps)});
        settle();
    }
    ~TargetEditorHost() {
        published.reset();
        editor.reset();
        store.reset();
        pump();
        Logger::setSink(previousSink);
    }
    TargetEditorHost(const TargetEditorHost&) = delete;
    TargetEditorHost& operator=(const TargetEditorHost&) = delete;

    // A tmux found in the host's own folder, which lists the panes set now.
    Tmux tmux() {
        return Tmux({tmuxFolder / "tmux"}, [this](const auto&, const auto&, const auto&) {
            std::lock_guard lock(mutex);
            std::string out;
            for (const auto& pane : panes) out += record(pane);
            return Subprocess::Result{.ok = true, .output = out};
        });
    }
    void setPanes(std::vector<Tmux::Pane> now) {
        std::lock_guard lock(mutex);
        panes = std::move(now);
    }
    void uninstallTmux() { std::filesystem::remove(tmuxFolder / "tmux"); }

    void settle() {
        ASSERT_TRUE(store->tmuxQueue().sync([] {}));
        pump();
    }
    void onMain(const std::function<void()>& work) {
        if (main->isCurrent()) work();
        else main->post(work);
        pump();
    }

    // Saves the target and opens the editor on it; "Choose an app…" chooses `chosen`.
    TargetEditorActions& edit(const QuibTarget& target, std::optional<std::filesystem::path> chosen = std::nullopt) {
        onMain([&] { ASSERT_EQ(store->upsert(target), std::nullopt); });
        published = store->targets().subscribe(
            [this, id = target.id](const std::vector<QuibTarget>& list) {
                for (const auto& each : list)
                    if (each.id == id) writes.push_back(each);
            },
            {.skipCurrent = true});
        onMain([&] {
            editor = TargetEditorActions::create({.main = main,
                                                  .store = store,
                                                  .workspace = workspace,
                                                  .apps = apps,
                                                  .tmux = tmux(),
                                                  .tmuxQueue = tmuxQueue,
                                                  .chooser = std::make_shared<GivenAppChooser>(std::move(chosen))},
                                                 binding(target));
        });
        return *editor;
    }
    TargetBinding binding(const QuibTarget& target) { return TargetBinding(store, target); }
    QuibTarget stored(const std::string& id = "T1") const { return *store->target(id); }
    TargetEditorModel model() const { return editor->model().value(); }
    // Runs the held pane listings in order and what they hand to the main executor.
    void answerListings() {
        tmuxQueue->runAll();
        pump();
    }

    // A desktop entry below the applications folder.
    std::filesystem::path install(const std::string& relative, const std::string& keys) const {
        const auto file = scratch.path / "applications" / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << "[Desktop Entry]\n" << keys;
        return file;
    }

    // One line of the pane listing (Tmux::paneFormat).
    static std::string record(const Tmux::Pane& pane) {
        const auto session = pane.spec.substr(0, pane.spec.rfind(':'));
        return pane.id + "|" + std::to_string(session.size()) + "|" + std::to_string(pane.command.size()) + "|" +
               std::to_string(pane.path.size()) + "|" + pane.spec + "|" + pane.command + "|" + pane.path + "|\n";
    }

    ScratchFolder scratch{"editor"};
    std::filesystem::path tmuxFolder = scratch.path / "bin";
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<Executor> main;
    std::function<void()> pump;
    std::shared_ptr<DesktopEntries> apps =
        std::make_shared<DesktopEntries>(std::vector<std::filesystem::path>{scratch.path / "applications"});
    std::shared_ptr<FixedWorkspace> workspace = std::make_shared<FixedWorkspace>();
    std::shared_ptr<HeldQueue> tmuxQueue = std::make_shared<HeldQueue>();
    std::shared_ptr<CapturingLogSink> log = std::make_shared<CapturingLogSink>();
    std::shared_ptr<LogSink> previousSink;
    std::mutex mutex;
    std::vector<Tmux::Pane> panes;
    std::shared_ptr<TargetStore> store;
    std::shared_ptr<TargetEditorActions> editor;
    Subscription published;
    std::vector<QuibTarget> writes;
};

}  // namespace quib::testing
