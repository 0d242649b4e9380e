// Bringing a target forward, and pressing key chords in it.

#include "QuibHost/Targets/TargetRouter.hpp"
#include "Runtime/AssertOn.hpp"
#include "Runtime/HostWords.hpp"

namespace quib {
namespace {

constexpr std::string_view shortPausedText = "Injection is paused";

}  // namespace

TargetRouter::Outcome TargetRouter::focus(const QuibTarget& target, bool movingPointer) {
    assertOnQueueLabelled(queueLabel);
    return bringForward(target, movingPointer).outcome;
}

TargetRouter::Focused TargetRouter::bringForward(const QuibTarget& target, bool movingPointer) {
    if (injector_->isPaused()) return {{false, std::string(shortPausedText)}};
    switch (target.kind) {
        case QuibTarget::Kind::app: return bringAppForward(target, movingPointer);
        case QuibTarget::Kind::tmux: return {selectPane(target)};
        case QuibTarget::Kind::frontmost: break;
    }
    return {{true, "Using the focused app"}};
}

// A pinned window is raised; otherwise a running app is activated and an installed one
// launched. A launch is answered at once, before the app has come up.
TargetRouter::Focused TargetRouter::bringAppForward(const QuibTarget& target, bool movingPointer) {
    if (!target.bundleID || target.bundleID->empty())
        return {{false, target.name + " has no " + HostWords::appID.str()}};
    const std::string& bundleID = *target.bundleID;
    if (target.pinnedWindowID) return {raisePinnedWindow(target, *target.pinnedWindowID, movingPointer)};
    const auto running = workspace_->runningInstances(bundleID);
    if (!running.empty()) {
        Outcome activated = activate(target, running.front());
        if (activated.ok && movingPointer) {
            if (const auto frame = roster_->frontWindowFrame(bundleID)) injector_->follow(*frame);
        }
        return {std::move(activated)};
    }
    if (!workspace_->isInstalled(bundleID)) return {{false, target.name + " isn't installed"}};
    if (auto launched = workspace_->launch(bundleID); !launched) return {{false, launched.error().message}};
    return {{true, "Launching " + target.name}, true};
}

TargetRouter::Outcome TargetRouter::raisePinnedWindow(const QuibTarget& target, std::uint32_t windowID,
                                                      bool movingPointer) {
    const auto raised = roster_->raise(windowID, *target.bundleID, target.name, movingPointer);
    if (!raised.raised) return {false, raised.text};
    if (raised.frame) injector_->follow(*raised.frame);
    return {true, "Focused " + (raised.text.empty() ? target.name : raised.text)};
}

// A desktop that refuses to bring the app forward leaves it behind another one, where input
// must not go.
TargetRouter::Outcome TargetRouter::activate(const QuibTarget& target, const Workspace::RunningApp& app) {
    if (!workspace_->activate(app)) return {false, target.name + " wouldn't come to the front"};
    return {true, "Focused " + target.name};
}

TargetRouter::Outcome TargetRouter::selectPane(const QuibTarget& target) {
    const auto pane = resolvePane(target);
    if (!pane) return {false, pane.error().message};
    if (auto failure = tmuxFailure(tmux_.run(Tmux::selectPaneArguments(*pane)))) return {false, std::move(*failure)};
    return {true, "Selected " + target.name};
}

TargetRouter::Outcome TargetRouter::readyForInput(const QuibTarget& target) {
    const Focused focused = bringForward(target, false);
    if (!focused.outcome.ok) return focused.outcome;
    if (focused.launched) {
        Outcome up = awaitLaunch(target);
        if (!up.ok) return up;
    }
    sleeper_->sleep(focusSettle);
    return focused.outcome;
}

// Looks for the app until it runs, then activates it as a running app.
TargetRouter::Outcome TargetRouter::awaitLaunch(const QuibTarget& target) {
    const MonoTime deadline = clock_->now() + launchLimit;
    for (;;) {
        const auto running = workspace_->runningInstances(*target.bundleID);
        if (!running.empty()) return activate(target, running.front());
        const MonoTime now = clock_->now();
        if (now >= deadline) return {false, target.name + " is still starting \u2014 send again in a moment"};
        sleeper_->sleep(std::min(launchPoll, deadline - now));
    }
}

TargetRouter::Outcome TargetRouter::press(const KeyChord& chord, const std::optional<QuibTarget>& target) {
    assertOnQueueLabelled(queueLabel);
    if (injector_->isPaused()) return {false, std::string(pausedText)};
    if (!target) return injector_->postKey(chord, "the front window");
    switch (target->kind) {
        case QuibTarget::Kind::app: {
            const Outcome ready = readyForInput(*target);
            if (!ready.ok) return ready;
            break;
        }
        case QuibTarget::Kind::tmux: return pressInPane(chord, *target);
        case QuibTarget::Kind::frontmost: break;
    }
    return injector_->postKey(chord, target->name);
}

// Each press is its own send-keys, with no pause between; presses sent before a failure stay
// sent.
TargetRouter::Outcome TargetRouter::pressInPane(const KeyChord& chord, const QuibTarget& target) {
    const auto key = chord.tmuxName();
    const bool known = KeyChord::keyCodes().contains(chord.key) || KeyChord::functionKeyNumber(chord.key);
    if (!known) return {false, chord.spoken() + std::string(EventInjectorService::unknownKeyText)};
    if (!key) return {false, chord.spoken() + " is the terminal's own shortcut, not something a pane can receive"};
    const auto pane = resolvePane(target);
    if (!pane) return {false, pane.error().message};
    for (std::int64_t press = 0; press < chord.repeatCount; ++press) {
        if (auto failure = tmuxFailure(tmux_.run(Tmux::sendKeyArguments(*pane, *key))))
            return {false, std::move(*failure)};
    }
    return {true, chord.spoken() + " \u2192 " + target.name};
}

// A target saved with a pane address, before identifiers were stored, is not guessed at: the
// address may name another pane by now.
Result<std::string> TargetRouter::storedPane(const QuibTarget& target) {
    if (!target.tmuxTarget || target.tmuxTarget->empty()) return fail(target.name + " has no tmux pane");
    const std::string& pane = *target.tmuxTarget;
    if (!pane.starts_with('%')) {
        return fail(target.name + " still points at " + pane + "; pick the pane again in Settings so " +
                    HostWords::product.str() + " can store its stable id");
    }
    return pane;
}

Result<std::string> TargetRouter::resolvePane(const QuibTarget& target) const {
    auto pane = storedPane(target);
    if (pane && !tmux_.paneExists(*pane)) return fail(goneText(*pane));
    return pane;
}

std::string TargetRouter::goneText(const std::string& pane) {
    return "tmux pane " + pane + " is gone \u2014 pick the pane again in Settings";
}

}  // namespace quib
