#pragma once

#include <gtest/gtest.h>

#include <fstream>

#include "Platform/Simulated/SimulatedDesktop.hpp"
#include "QuibHost/Targets/TargetStore.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/MainLoop.hpp"
#include "Shared/QuibCoder.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/TmuxServer.hpp"

// The fixture is named after the type under test, so the tests live outside namespace quib.
namespace target_store_tests {

using namespace quib;
namespace fs = std::filesystem;
using Kind = QuibTarget::Kind;

inline QuibTarget target(const std::string& id, Kind kind = Kind::app) {
    QuibTarget t;
    t.id = id;
    t.name = "Target " + id;
    t.kind = kind;
    if (kind == Kind::app) t.bundleID = "org.example." + id;
    if (kind == Kind::tmux) t.tmuxTarget = "%1";
    return t;
}

inline QuibTarget provisional(const std::string& id) {
    QuibTarget t = target(id, Kind::tmux);
    t.isProvisional = true;
    return t;
}

inline QuibTarget named(std::string id, std::string name, Kind kind) {
    QuibTarget t;
    t.id = std::move(id);
    t.name = std::move(name);
    t.kind = kind;
    return t;
}

inline QuibTarget app(const std::string& id, const std::string& name, std::optional<std::string> bundleID) {
    QuibTarget t = named(id, name, Kind::app);
    t.bundleID = std::move(bundleID);
    return t;
}

inline QuibTarget pane(const std::string& id, const std::string& name, std::optional<std::string> tmuxTarget) {
    QuibTarget t = named(id, name, Kind::tmux);
    t.tmuxTarget = std::move(tmuxTarget);
    return t;
}

inline std::vector<std::string> ids(const std::vector<QuibTarget>& targets) {
    std::vector<std::string> out;
    for (const auto& t : targets) out.push_back(t.id);
    return out;
}

inline std::vector<std::string> names(const std::vector<QuibTarget>& targets) {
    std::vector<std::string> out;
    for (const auto& t : targets) out.push_back(t.name);
    return out;
}

// The app catalog's first app targets, as a test sets them; each call hands out fresh ids.
class FakeSeeds final : public AppSeeds {
public:
    std::vector<QuibTarget> seeds(std::size_t limit) override {
        limits.push_back(limit);
        std::vector<QuibTarget> out;
        for (const auto& [name, bundleID] : apps) {
            QuibTarget t;
            t.id = "seed-" + std::to_string(++made);
            t.name = name;
            t.kind = Kind::app;
            t.bundleID = bundleID;
            t.symbol = "terminal";
            out.push_back(std::move(t));
        }
        return out;
    }

    std::vector<std::pair<std::string, std::string>> apps;  // name, bundle identifier
    std::vector<std::size_t> limits;
    int made = 0;
};

class TargetStore : public ::testing::Test {
protected:
    TargetStore() { previousSink = Logger::setSink(log); }
    ~TargetStore() override {
        store.reset();
        main->runPending();
        Logger::setSink(previousSink);
    }

    // A store made over the settings as they are now, its data folder in the scratch folder,
    // with its start-up seeding done.
    quib::TargetStore& make(std::optional<fs::path> dataHome = std::nullopt) {
        auto deliveries = std::make_shared<DeliveryLog>(
            DeliveryLog::Config{.dataHome = dataHome.value_or(scratch.path), .clock = clock});
        store = quib::TargetStore::create({.main = main,
                                           .settings = settings,
                                           .clock = clock,
                                           .log = deliveries,
                                           .tmux = tmux,
                                           .apps = apps,
                                           .seeds = seeds,
                                           .workspace = desktop});
        settle();
        return *store;
    }
    // A store that starts with these saved targets, the first one active.
    quib::TargetStore& makeWith(const std::vector<QuibTarget>& targets) {
        save(targets);
        return make();
    }
    // Lets the store's queries finish and applies what they found.
    void settle() {
        ASSERT_TRUE(store->tmuxQueue().sync([] {}));
        main->runPending();
    }

    void save(const std::vector<QuibTarget>& targets) {
        (void)settings->setBytes(quib::TargetStore::defaultsKey, bytesOf(*QuibCoder::line(targets)));
    }
    std::optional<std::string> stored() const {
        auto bytes = settings->bytes(quib::TargetStore::defaultsKey);
        return bytes ? std::optional<std::string>(textOf(*bytes)) : std::nullopt;
    }
    // The stored list, which must decode.
    std::vector<QuibTarget> storedList() const {
        auto decoded = QuibCoder::decode<std::vector<QuibTarget>>(stored().value_or(""));
        EXPECT_TRUE(decoded) << stored().value_or("nothing stored");
        return decoded ? *decoded : std::vector<QuibTarget>{};
    }

    // An installed application with this bundle identifier and these further keys.
    void installApp(const std::string& bundleID, const std::string& keys = "") {
        fs::create_directories(scratch.path / "applications");
        std::ofstream(scratch.path / "applications" / (bundleID + ".desktop")) << "[Desktop Entry]\nType=Application\n"
                                                                               << keys;
    }

    void onMain(const std::function<void()>& work) {
        main->post(work);
        main->runPending();
    }

    // First, so that it is made before any thread starts.
    quib::testing::TmuxServer tmuxServer;
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();  // 2027-01-15T08:00:00Z
    std::shared_ptr<MainLoop> main = std::make_shared<MainLoop>(clock);
    std::shared_ptr<Settings> settings = Settings::inMemory();
    quib::testing::ScratchFolder scratch{"targets"};
    quib::Tmux tmux;
    std::shared_ptr<DesktopEntries> apps =
        std::make_shared<DesktopEntries>(std::vector<fs::path>{scratch.path / "applications"});
    std::shared_ptr<FakeSeeds> seeds = std::make_shared<FakeSeeds>();
    std::shared_ptr<SimulatedDesktop> desktop = std::make_shared<SimulatedDesktop>();
    std::shared_ptr<CapturingLogSink> log = std::make_shared<CapturingLogSink>();
    std::shared_ptr<LogSink> previousSink;
    std::shared_ptr<quib::TargetStore> store;
};

}  // namespace target_store_tests
