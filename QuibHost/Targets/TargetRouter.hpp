#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/DesktopServices.hpp"
#include "Platform/Tmux/Tmux.hpp"
#include "Platform/Tmux/TmuxControl.hpp"
#include "QuibHost/Targets/DeliveryLog.hpp"
#include "QuibHost/Targets/EventInjectorService.hpp"
#include "QuibHost/Targets/TargetRouterService.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/HostWords.hpp"
#include "Runtime/Result.hpp"
#include "Runtime/Sleeper.hpp"

namespace quib {

// Carries what the phone sends into the chosen target, the last step of every delivery. A tmux
// pane receives text through the paste buffer "quib", then Enter; an app, or whichever app is
// in front, receives it through the pasteboard and Command-V, then Return, once the app has been
// brought forward. Images go to a pane as quoted file paths and to an app as pasted images. The
// submit rule: Return or Enter only when the target allows automatic submission, and then as
// the request says or, when it says nothing, as the target's own setting says.
//
// Text is trimmed of white space and line breaks at both ends; the trimmed text is delivered,
// counted in characters (grapheme clusters) and in words. Every text and image delivery is
// answered with a receipt that is also written to the delivery log; focusing and key presses
// are answered with an outcome and not logged.
//
// An app that has to be launched first is waited for, up to launchLimit, before anything is
// pasted or pressed into it: input sent while it starts would land in whatever app is in front.
//
// Called on the injection queue (labelled queueLabel), one call at a time, which each public
// method asserts; every call blocks for the tools it runs and its waits. The router holds no
// state of its own besides its collaborators.
class TargetRouter final : public TargetRouterService {
public:
    // After an app was brought forward, so that it takes keyboard focus.
    static constexpr Duration focusSettle = std::chrono::milliseconds(180);
    // Before Return, so that the pasted text has arrived.
    static constexpr Duration returnPause = std::chrono::milliseconds(60);
    // After each pasted image.
    static constexpr Duration imagePause = std::chrono::milliseconds(250);
    // How long a launched app may take to come up, and how often it is looked for meanwhile.
    static constexpr Duration launchLimit = std::chrono::seconds(5);
    static constexpr Duration launchPoll = std::chrono::milliseconds(100);

    static constexpr std::string_view nothingToSendText = "Nothing to send";
    static constexpr std::string_view pausedText =
        said<"Injection is paused \u2014 turn it back on in ", HostWords::panel>;
    static constexpr std::string_view unreadableImagesText =
        "None of those images could be read \u2014 send them again";

    struct Config {
        std::shared_ptr<EventInjectorService> injector;
        DesktopServices desktop = {};  // its workspace and roster, both required
        Tmux tmux = Tmux();
        // Text goes to panes through this client, and through one tmux run when the client
        // cannot take it; none: always through a run.
        std::shared_ptr<TmuxControl> tmuxControl = nullptr;
        std::shared_ptr<DeliveryLog> log = nullptr;  // none: deliveries are not recorded
        std::shared_ptr<Clock> clock = nullptr;      // none: the system clock
        std::shared_ptr<Sleeper> sleeper = nullptr;  // none: really sleeps
    };

    explicit TargetRouter(Config config);

    DeliveryReceipt deliver(const std::string& text, const QuibTarget& target, std::optional<bool> submit) override;
    DeliveryReceipt deliver(const std::vector<UploadAttachment>& attachments, const std::string& caption,
                            const QuibTarget& target, std::optional<bool> submit) override;
    Outcome focus(const QuibTarget& target, bool movingPointer) override;
    Outcome press(const KeyChord& chord, const std::optional<QuibTarget>& target) override;

    // A file path as a shell reads it back: bare when made only of letters, numeric characters
    // and "/", ".", "_" and "-"; otherwise in single quotes, each quote inside written '\''.
    static std::string shellQuoted(std::string_view path);
    // The caption (trimmed) on the first line when there is one, then each file's quoted path on
    // a line of its own.
    static std::string captionAndPaths(const std::vector<UploadAttachment>& attachments, const std::string& caption);

private:
    // Focusing's answer, and whether it launched the app (which has not come up yet).
    struct Focused {
        Outcome outcome;
        bool launched = false;
    };

    static DeliveryReceipt receipt(const QuibTarget& target, bool ok, std::size_t characters, bool submitted,
                                   std::string message);
    // Why a tmux run failed ("tmux: " and the reason); none when it succeeded.
    static std::optional<std::string> tmuxFailure(const std::optional<Subprocess::Result>& run);

    bool submits(const QuibTarget& target, std::optional<bool> submit) const;
    DeliveryReceipt textToPane(const std::string& text, const QuibTarget& target, bool submit);
    // Pastes through the control client; none when it could not, and nothing was pasted.
    std::optional<Result<void>> pasteThroughControl(const std::string& text, const std::string& pane);
    Result<void> pasteThroughRun(const std::string& text, const std::string& pane);
    bool pressEnter(const std::string& pane);
    DeliveryReceipt textToApp(const std::string& text, const QuibTarget& target, bool submit);
    DeliveryReceipt pathsToPane(const std::vector<UploadAttachment>& attachments, const std::string& caption,
                                const QuibTarget& target, std::optional<bool> submit);
    DeliveryReceipt pathsToTerminal(const std::vector<UploadAttachment>& attachments, const std::string& caption,
                                    const QuibTarget& target, std::optional<bool> submit);
    DeliveryReceipt imagesToApp(const std::vector<UploadAttachment>& attachments, const std::string& caption,
                                const QuibTarget& target, std::optional<bool> submit);
    void pressReturnIf(bool submit);
    DeliveryReceipt recorded(DeliveryReceipt receipt) const;

    Focused bringForward(const QuibTarget& target, bool movingPointer);
    Focused bringAppForward(const QuibTarget& target, bool movingPointer);
    Outcome raisePinnedWindow(const QuibTarget& target, std::uint32_t windowID, bool movingPointer);
    Outcome activate(const QuibTarget& target, const Workspace::RunningApp& app);
    Outcome selectPane(const QuibTarget& target);
    // Focuses an app target for input: waits for an app it launched, then lets it settle.
    Outcome readyForInput(const QuibTarget& target);
    Outcome awaitLaunch(const QuibTarget& target);
    Outcome pressInPane(const KeyChord& chord, const QuibTarget& target);
    // The pane identifier of a tmux target, or why it has none that can be used.
    Result<std::string> resolvePane(const QuibTarget& target) const;
    // The same, without asking tmux whether the pane exists.
    static Result<std::string> storedPane(const QuibTarget& target);
    static std::string goneText(const std::string& pane);

    std::shared_ptr<EventInjectorService> injector_;
    std::shared_ptr<EventPoster> events_;  // none: no window is a terminal's
    std::shared_ptr<Workspace> workspace_;
    std::shared_ptr<WindowRoster> roster_;
    Tmux tmux_;
    std::shared_ptr<TmuxControl> control_;
    std::shared_ptr<DeliveryLog> log_;
    std::shared_ptr<Clock> clock_;
    std::shared_ptr<Sleeper> sleeper_;
};

}  // namespace quib
