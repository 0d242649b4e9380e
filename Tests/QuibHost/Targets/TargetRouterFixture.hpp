#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Simulated/SimulatedDesktop.hpp"
#include "QuibHost/Targets/EventInjector.hpp"
#include "QuibHost/Targets/TargetRouter.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/MainLoop.hpp"
#include "Runtime/SerialQueue.hpp"
#include "Runtime/Sleeper.hpp"
#include "Tests/Support/FakeSleeper.hpp"
#include "Tests/Support/OnQueue.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/TestImages.hpp"
#include "Tests/Support/TmuxServer.hpp"

namespace quib::testing {

// Every tmux run a router made, with its standard input; a run can be made to fail instead.
class TmuxRuns {
public:
    struct Run {
        std::vector<std::string> arguments;
        std::optional<std::string> input;
    };
    // Answers instead of tmux, for the runs it gives an answer for.
    using Override = std::function<std::optional<Subprocess::Result>(const std::vector<std::string>& arguments)>;

    Tmux::Runner runner() {
        return [this](const std::filesystem::path& tmux, const std::vector<std::string>& arguments,
                      std::optional<std::string_view> input) {
            std::optional<Subprocess::Result> answer;
            {
                std::lock_guard lock(mutex_);
                runs_.push_back({arguments, input ? std::optional<std::string>(*input) : std::nullopt});
                if (override_) answer = override_(arguments);
            }
            return answer ? *answer : Subprocess::run(tmux, arguments, input, Tmux::timeout);
        };
    }
    void answer(Override override) {
        std::lock_guard lock(mutex_);
        override_ = std::move(override);
    }
    std::vector<Run> all() const {
        std::lock_guard lock(mutex_);
        return runs_;
    }
    // The subcommand of each run, in order.
    std::vector<std::string> subcommands() const {
        std::vector<std::string> names;
        for (const auto& run : all()) names.push_back(run.arguments.empty() ? "" : run.arguments.front());
        return names;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Run> runs_;
    Override override_;
};

// A router called as the server calls it: each call a task of `queue`, waited for.
class RouterOnQueue final : public TargetRouterService {
public:
    RouterOnQueue(std::unique_ptr<TargetRouterService> router, SerialQueue& queue)
        : router_(std::move(router)), queue_(queue) {}

    DeliveryReceipt deliver(const std::string& text, const QuibTarget& target, std::optional<bool> submit) override {
        return onQueue(queue_, [&] { return router_->deliver(text, target, submit); });
    }
    DeliveryReceipt deliver(const std::vector<UploadAttachment>& attachments, const std::string& caption,
                            const QuibTarget& target, std::optional<bool> submit) override {
        return onQueue(queue_, [&] { return router_->deliver(attachments, caption, target, submit); });
    }
    Outcome focus(const QuibTarget& target, bool movingPointer) override {
        return onQueue(queue_, [&] { return router_->focus(target, movingPointer); });
    }
    Outcome press(const KeyChord& chord, const std::optional<QuibTarget>& target) override {
        return onQueue(queue_, [&] { return router_->press(chord, target); });
    }

private:
    std::unique_ptr<TargetRouterService> router_;
    SerialQueue& queue_;
};

// The suite TargetRouter: a router on a simulated 1440 × 900 desktop that trusts the host, with
// the editor installed and running in front and the terminal installed but not running; a fake
// clock that every wait moves on; a tmux server of the test's own, run through a recorder; a
// delivery log in a scratch folder; and a queue labelled as the server's injection queue, which
// every call of the router runs on.
class TargetRouter : public ::testing::Test {
protected:
    void SetUp() override {
        desktop->setDisplays(std::vector<Rect>{{0, 0, 1440, 900}});
        desktop->setPointer({5, 5});
        desktop->setTrusted(true);
        for (const char* app : {editorID, terminalID}) desktop->install(app);
        desktop->start(editorID);
        desktop->focus(editorID);
    }

    static QuibTarget target(const std::string& name, QuibTarget::Kind kind) {
        QuibTarget target;
        target.id = "T-" + name;
        target.name = name;
        target.kind = kind;
        return target;
    }
    static QuibTarget app(const std::string& name, const std::string& bundleID) {
        QuibTarget app = target(name, QuibTarget::Kind::app);
        app.bundleID = bundleID;
        return app;
    }
    static QuibTarget pane(const std::string& name, const std::string& tmuxTarget) {
        QuibTarget pane = target(name, QuibTarget::Kind::tmux);
        pane.tmuxTarget = tmuxTarget;
        return pane;
    }
    static QuibTarget frontmost() { return target("Front", QuibTarget::Kind::frontmost); }

    // A session "work" whose pane echoes what it is sent and keeps nothing; its identifier.
    std::string workPane() {
        EXPECT_TRUE(tmuxServer.run({"new-session", "-d", "-s", "work", "-x", "120", "-y", "40", "cat > /dev/null"}));
        return tmuxServer.idOf("work:0.0");
    }
    // Waits, in real time, for tmux to show `text` in the pane; the pane's lines either way.
    std::string paneShowing(const std::string& id, const std::string& text) {
        std::string shown;
        for (int attempt = 0; attempt < 250; ++attempt) {
            shown = tmuxServer.run({"capture-pane", "-p", "-t", id}).value_or("");
            if (shown.find(text) != std::string::npos) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return shown;
    }

    // An image file in the scratch folder; unreadable ones are named but never written.
    UploadAttachment image(const std::string& name, bool readable = true) const {
        const auto file = data.path / name;
        if (readable) std::ofstream(file, std::ios::binary) << textOf(onePixelPng());
        return {file, AttachmentFrame::Format::png};
    }

    // The text each Command-V pasted into the app, in order; an image paste shows as its type.
    std::vector<std::string> pastedInto(const std::string& bundleID) const {
        std::vector<std::string> texts;
        const auto running = desktop->app(bundleID);
        if (!running) return texts;
        for (const auto& items : running->pastes) {
            if (items.empty()) continue;
            const Bytes* text = items.front().data(PasteboardType::string);
            texts.push_back(text ? textOf(*text) : items.front().representations.front().first);
        }
        return texts;
    }
    // How often Return was pressed in the app.
    std::size_t returnsIn(const std::string& bundleID) const {
        const auto running = desktop->app(bundleID);
        if (!running) return 0;
        return std::count(running->keys.begin(), running->keys.end(),
                          SimulatedDesktop::KeyPress{quib::EventInjector::returnKeyCode, 0});
    }
    std::string lastLogLine() const {
        const auto lines = linesOf(fileContents(data.path / "Quib" / "deliveries.log"));
        const std::string last = lines.empty() ? "" : lines.back();
        return last.substr(last.find('\t') + 1);  // without the time
    }

    // The router on the simulated desktop, made on first use; onInjection makes one of any
    // configuration. Each is called on the queue.
    TargetRouterService& router() {
        if (!made) made = onInjection(config(desktop->services()));
        return *made;
    }
    std::unique_ptr<RouterOnQueue> onInjection(quib::TargetRouter::Config config) {
        return std::make_unique<RouterOnQueue>(std::make_unique<quib::TargetRouter>(std::move(config)), injection);
    }
    quib::TargetRouter::Config config(DesktopServices services) {
        const std::vector<std::filesystem::path> paths(Tmux::standardPaths.begin(), Tmux::standardPaths.end());
        return {.injector = injector,
                .desktop = std::move(services),
                .tmux = Tmux(paths, runs.runner()),
                .tmuxControl = control,
                .log = log,
                .clock = clock,
                .sleeper = sleeper};
    }

    static constexpr const char* editorID = "org.example.Editor";
    static constexpr const char* terminalID = "org.example.Terminal";

    // First, so that it is made before any thread starts.
    TmuxServer tmuxServer;
    ScratchFolder data{"router"};
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<FakeSleeper> sleeper = std::make_shared<FakeSleeper>(clock);
    std::shared_ptr<MainLoop> restores = std::make_shared<MainLoop>(clock);
    std::shared_ptr<SimulatedDesktop> desktop = std::make_shared<SimulatedDesktop>(clock);
    std::shared_ptr<quib::EventInjector> injector = quib::EventInjector::create({.desktop = desktop->services(),
                                                                                 .permissions = desktop,
                                                                                 .clock = clock,
                                                                                 .sleeper = sleeper,
                                                                                 .pasteboardQueue = restores});
    std::shared_ptr<DeliveryLog> log =
        std::make_shared<DeliveryLog>(DeliveryLog::Config{.dataHome = data.path, .clock = clock});
    TmuxRuns runs;
    // Set before the router is made, text goes to panes through it first.
    std::shared_ptr<quib::TmuxControl> control;
    SerialQueue injection{std::string(TargetRouterService::queueLabel)};
    std::unique_ptr<RouterOnQueue> made;
};

}  // namespace quib::testing
