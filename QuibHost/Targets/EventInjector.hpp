#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Platform/DesktopServices.hpp"
#include "Platform/Permissions.hpp"
#include "QuibHost/Targets/EventInjectorService.hpp"
#include "QuibHost/Targets/TargetOutcome.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Executor.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/Published.hpp"
#include "Runtime/Settings.hpp"
#include "Runtime/SettingsTable.hpp"
#include "Runtime/Sleeper.hpp"
#include "Shared/AttachmentFrame.hpp"
#include "Shared/Instrumentation.hpp"
#include "Shared/KeyChord.hpp"

namespace quib {

// Turns the phone's input into system-wide events on the desktop: pointer moves kept on the
// displays, clicks that remember which buttons are held (so moves become drags and nothing stays
// pressed), trackpad-style scrolls framed by gesture and momentum phases, key chords, and pastes
// through the pasteboard that put the user's own pasteboard back a moment later.
//
// One per process, made at start and handed to its users. Pointer input comes from the network
// queue, pastes and keys from the injection queue, pausing from the main thread; restores run on
// the injector's own pasteboard queue. The state lock and the display lock are never held while
// an event is posted, and never together.
class EventInjector final : public EventInjectorService, public std::enable_shared_from_this<EventInjector> {
public:
    static constexpr auto followPointerKey = setting<"quib.followPointer">;
    static constexpr Duration scrollPhaseTimeout = std::chrono::milliseconds(400);
    static constexpr Duration pasteboardRestoreDelay = std::chrono::milliseconds(350);
    // How long another app gets to take the pasteboard's new contents, and between repeated presses.
    static constexpr Duration keyPause = std::chrono::milliseconds(40);
    static constexpr std::uint16_t vKeyCode = 9;
    static constexpr std::uint16_t returnKeyCode = 36;

    struct Config {
        DesktopServices desktop = {};                        // its events, pointer, displays, probe and pasteboard
        std::shared_ptr<Permissions> permissions = nullptr;  // whether the desktop trusts the host; none: never
        std::shared_ptr<Clock> clock = nullptr;              // none: the system clock
        std::shared_ptr<Sleeper> sleeper = nullptr;          // none: really sleeps
        std::shared_ptr<Settings> settings = nullptr;        // "quib.followPointer", read once, now
        Instrumentation* instrumentation = nullptr;          // none: the shared one
        // Where restores run; none: a serial queue of the injector's own.
        std::shared_ptr<Executor> pasteboardQueue = nullptr;
    };

    static std::shared_ptr<EventInjector> create(Config config);
    ~EventInjector() override;
    EventInjector(const EventInjector&) = delete;
    EventInjector& operator=(const EventInjector&) = delete;

    // Pointer, click and scroll input (EventInjectorService).
    void move(double dx, double dy) override;
    void point(Point to) override;
    void click(MouseButton button, ClickPhase phase, std::int64_t clickCount) override;
    void scroll(double dx, double dy) override;
    void scroll(ScrollGesturePhase phase) override;
    void releaseAllButtons() override;
    void release(const std::set<MouseButton>& buttons) override;
    void resetScrollPhase() override;
    void clearDisplayCache() override;
    void follow(const Rect& window) override;

    // The pause switch and the trust check (EventInjectorService).
    bool isPaused() const override;
    void setPaused(bool paused) override;
    bool apiDisabled() const override;
    bool revalidateTrust() override;
    // The desktop trusts the host and its accessibility interface did not refuse it last time.
    bool isTrusted() const override;

    // Pastes and key presses (EventInjectorService).
    void paste(const std::string& text) override;
    bool paste(const std::filesystem::path& image, AttachmentFrame::Format format) override;
    TargetOutcome postKey(const KeyChord& chord, const std::string& name) override;
    void postKeyEvents(std::uint16_t keyCode, std::uint64_t flags) override;

private:
    struct Passkey {};

    enum class GesturePhase : std::int64_t { began = 1, changed = 2, ended = 4 };
    enum class MomentumPhase : std::int64_t { begin = 1, moving = 2, end = 3 };
    struct ScrollPhaseState {
        std::optional<GesturePhase> gesture;
        std::optional<MomentumPhase> momentum;
        bool hasSentFirst = false;
        MonoTime lastEventAt = MonoTime::min();
    };
    struct Stamp {
        std::optional<GesturePhase> gesture;
        std::optional<MomentumPhase> momentum;
    };

public:
    EventInjector(Passkey, Config config);

private:
    // The desktop services the injector drives, after checking that none is missing.
    static DesktopServices driven(DesktopServices desktop);
    void watchDisplays();
    std::shared_ptr<const std::vector<Rect>> displayRects();
    Point clampToDisplays(Point point);
    InputEvent pointerEvent(Point location) const;
    void post(MouseButton button, bool down, std::int64_t clickCount);
    void postUps(const std::set<MouseButton>& buttons);
    Stamp stampForScroll();
    void postPhaseEnd(EventField field, std::int64_t value);
    void pasteWriting(std::vector<PasteboardItem> items);
    void scheduleRestore(std::int64_t generation, std::int64_t changeCount);
    void restore(std::int64_t generation, std::int64_t changeCount);

    DesktopServices desktop_;
    std::shared_ptr<Permissions> permissions_;
    std::shared_ptr<Clock> clock_;
    std::shared_ptr<Sleeper> sleeper_;
    Instrumentation& instrumentation_;
    std::shared_ptr<Executor> pasteboardQueue_;
    const bool followsWindows_;

    mutable Mutex stateLock_;  // guards the four below
    bool paused_ GUARDED_BY(stateLock_) = false;
    std::set<MouseButton> heldButtons_ GUARDED_BY(stateLock_);
    bool apiDisabled_ GUARDED_BY(stateLock_) = false;
    ScrollPhaseState scrollPhase_ GUARDED_BY(stateLock_);

    Mutex displayLock_;
    std::shared_ptr<const std::vector<Rect>> cachedDisplayRects_ GUARDED_BY(displayLock_);  // none: ask the desktop
    // Bumped by every change, so a stale query is not cached.
    std::uint64_t displayGeneration_ GUARDED_BY(displayLock_) = 0;

    Mutex pasteboardLock_;  // guards the four below
    std::int64_t pasteGeneration_ GUARDED_BY(pasteboardLock_) = 0;
    std::optional<std::vector<PasteboardItem>> savedItems_ GUARDED_BY(pasteboardLock_);
    // The desktop's selection, for pastes into windows that paste only that: what it held before
    // the first such paste of a run, and its count after the last one.
    std::optional<std::vector<PasteboardItem>> savedSelection_ GUARDED_BY(pasteboardLock_);
    std::int64_t selectionCount_ GUARDED_BY(pasteboardLock_) = 0;

    Subscription displayWatch_;
};

}  // namespace quib
