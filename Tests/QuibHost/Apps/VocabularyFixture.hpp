#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Simulated/SimulatedDesktop.hpp"
#include "Platform/Tmux/Tmux.hpp"
#include "QuibHost/Apps/TestRepository.hpp"
#include "QuibHost/Apps/Vocabulary.hpp"
#include "QuibHost/Targets/EventInjector.hpp"
#include "Runtime/FakeClock.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib::testing {

// A vocabulary on a simulated desktop that trusts the host, with a fake clock, a word list of
// its own ("main", "feature", "cafe") and the real git; a test may put a git that counts its
// runs in front. The vocabulary and the injector are made at first use, so that a test can
// start its tmux server before any thread runs.
class VocabularyFixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::ofstream(scratch.path / "words") << "main\nFeature\n\ncafe\n";
        desktop->setTrusted(true);
    }

    quib::Vocabulary& vocabulary() {
        if (!made) {
            injector =
                quib::EventInjector::create({.desktop = desktop->services(), .permissions = desktop, .clock = clock});
            made = std::make_unique<quib::Vocabulary>(quib::Vocabulary::Config{.clock = clock,
                                                                               .desktop = desktop->services(),
                                                                               .injector = injector,
                                                                               .paneFolder = paneFolder,
                                                                               .git = Git(gitPaths),
                                                                               .dictionary = scratch.path / "words"});
        }
        return *made;
    }

    // Puts a git in front that notes each run before running the real one.
    void countGitRuns() {
        const auto wrapper = scratch.path / "bin" / "git";
        std::filesystem::create_directories(wrapper.parent_path());
        std::ofstream(wrapper) << "#!/bin/sh\necho run >> '" << (scratch.path / "runs").string() << "'\nexec "
                               << TestRepository::git << " \"$@\"\n";
        std::filesystem::permissions(wrapper, std::filesystem::perms::owner_all);
        gitPaths.insert(gitPaths.begin(), wrapper);
    }

    std::size_t gitRuns() const {
        const std::string runs = fileContents(scratch.path / "runs");
        return static_cast<std::size_t>(std::count(runs.begin(), runs.end(), '\n'));
    }

    // A running app whose focused window shows the document at `url`.
    QuibTarget appShowing(const std::string& bundleID, const std::optional<std::string>& url) {
        desktop->start(bundleID);
        desktop->setDocumentURL(desktop->app(bundleID)->processID, url);
        QuibTarget target;
        target.id = "A-" + bundleID;
        target.name = bundleID;
        target.kind = QuibTarget::Kind::app;
        target.bundleID = bundleID;
        return target;
    }

    static bool holds(const std::vector<std::string>& terms, const std::string& term) {
        return std::find(terms.begin(), terms.end(), term) != terms.end();
    }

    // Asks the tmux server of the test's environment.
    static std::optional<std::string> paneFolder(const std::string& pane) { return Tmux().currentPath(pane); }

    ScratchFolder scratch{"voc"};
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<SimulatedDesktop> desktop = std::make_shared<SimulatedDesktop>(clock);
    std::vector<std::filesystem::path> gitPaths{std::string(TestRepository::git)};
    std::shared_ptr<quib::EventInjector> injector;
    std::unique_ptr<quib::Vocabulary> made;
};

}  // namespace quib::testing
