#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "Platform/Simulated/SimulatedDesktop.hpp"
#include "QuibHost/Targets/EventInjector.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/MainLoop.hpp"
#include "Runtime/Sleeper.hpp"
#include "Tests/Support/FakeSleeper.hpp"

namespace quib::testing {

// The suite EventInjector: an injector on a simulated 1440 × 900 desktop that trusts the host,
// with the pointer at (100, 100) and an editor in front, a fake clock that the injector's waits
// move on, and restores that run when the test pumps them.
class EventInjector : public ::testing::Test {
protected:
    void SetUp() override {
        desktop->setDisplays(std::vector<Rect>{{0, 0, 1440, 900}});
        desktop->setPointer({100, 100});
        desktop->setTrusted(true);
        desktop->start("org.example.editor");
        desktop->focus("org.example.editor");
    }

    // What each Command-V pasted into the editor.
    std::vector<std::vector<PasteboardItem>> pastes() const { return desktop->app("org.example.editor")->pastes; }

    // The injector, made on first use so that a test can change the settings before.
    quib::EventInjector& injector() {
        if (!made) {
            made = quib::EventInjector::create({.desktop = desktop->services(),
                                                .permissions = desktop,
                                                .clock = clock,
                                                .sleeper = sleeper,
                                                .settings = settings,
                                                .instrumentation = instrumentation.get(),
                                                .pasteboardQueue = restores});
        }
        return *made;
    }

    // Lets time pass, and runs the restores that fell due.
    void wait(Duration duration) {
        clock->advance(duration);
        restores->runPending();
    }

    InputEvent lastEvent() const {
        const auto events = desktop->events();
        return events.empty() ? InputEvent{} : events.back();
    }

    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<FakeSleeper> sleeper = std::make_shared<FakeSleeper>(clock);
    std::shared_ptr<MainLoop> restores = std::make_shared<MainLoop>(clock);
    std::shared_ptr<Settings> settings = Settings::inMemory();
    std::shared_ptr<Instrumentation> instrumentation = std::make_shared<Instrumentation>(clock, settings);
    std::shared_ptr<SimulatedDesktop> desktop = std::make_shared<SimulatedDesktop>();
    std::shared_ptr<quib::EventInjector> made;
};

}  // namespace quib::testing
