// Text deliveries and the pieces every delivery shares.

#include "QuibHost/Targets/TargetRouter.hpp"

#include "Runtime/AssertOn.hpp"
#include "Runtime/Required.hpp"
#include "Runtime/UnicodeText.hpp"

namespace quib {
namespace {

constexpr std::uint16_t returnKeyCode = 36;

// "Sent 1 word to Editor", "Sent 12 words to Editor".
std::string sentWords(const std::string& text, const QuibTarget& target) {
    const std::size_t words = unicode::wordCount(text);
    return "Sent " + std::to_string(words) + (words == 1 ? " word" : " words") + " to " + target.name;
}

}  // namespace

TargetRouter::TargetRouter(Config config)
    : injector_(required(std::move(config.injector), "TargetRouter", "injector")),
      events_(std::move(config.desktop.events)),
      workspace_(required(std::move(config.desktop.workspace), "TargetRouter", "workspace")),
      roster_(required(std::move(config.desktop.roster), "TargetRouter", "window roster")),
      tmux_(std::move(config.tmux)),
      control_(std::move(config.tmuxControl)),
      log_(std::move(config.log)),
      clock_(config.clock ? std::move(config.clock) : SystemClock::shared()),
      sleeper_(config.sleeper ? std::move(config.sleeper) : SystemSleeper::shared()) {}

DeliveryReceipt TargetRouter::receipt(const QuibTarget& target, bool ok, std::size_t characters, bool submitted,
                                      std::string message) {
    return {ok, target.id, target.name, static_cast<std::int64_t>(characters), submitted, std::move(message)};
}

std::optional<std::string> TargetRouter::tmuxFailure(const std::optional<Subprocess::Result>& run) {
    if (!run) return "tmux: tmux not found";
    if (!run->ok) return "tmux: " + run->output;
    return std::nullopt;
}

// Nothing is ever submitted into a target that does not allow it.
bool TargetRouter::submits(const QuibTarget& target, std::optional<bool> submit) const {
    return target.allowAutoSubmit && submit.value_or(target.submitOnSend);
}

DeliveryReceipt TargetRouter::recorded(DeliveryReceipt receipt) const {
    if (log_) log_->record(receipt);
    return receipt;
}

DeliveryReceipt TargetRouter::deliver(const std::string& text, const QuibTarget& target, std::optional<bool> submit) {
    assertOnQueueLabelled(queueLabel);
    const std::string trimmed(unicode::trimWhiteSpace(text));
    if (trimmed.empty()) return recorded(receipt(target, false, 0, false, std::string(nothingToSendText)));
    if (injector_->isPaused()) {
        return recorded(receipt(target, false, unicode::graphemeCount(trimmed), false, std::string(pausedText)));
    }
    const bool submitting = submits(target, submit);
    if (target.kind == QuibTarget::Kind::tmux) return recorded(textToPane(trimmed, target, submitting));
    return recorded(textToApp(trimmed, target, submitting));
}

// Paste (the buffer deleted as it is pasted), then Enter. A failed Enter leaves the text
// delivered, only not submitted.
DeliveryReceipt TargetRouter::textToPane(const std::string& text, const QuibTarget& target, bool submit) {
    const std::size_t characters = unicode::graphemeCount(text);
    const auto pane = storedPane(target);
    if (!pane) return receipt(target, false, characters, false, pane.error().message);
    auto pasted = pasteThroughControl(text, *pane);
    if (!pasted) pasted = pasteThroughRun(text, *pane);
    if (!*pasted) return receipt(target, false, characters, false, pasted->error().message);
    const bool submitted = submit && pressEnter(*pane);
    return receipt(target, true, characters, submitted, sentWords(text, target));
}

// The pane is looked up, the buffer set and pasted in one list, which tmux stops at the first
// command that fails: a pane that is gone gets nothing, and a buffer or paste tmux refused left
// nothing pasted, so the run may try again. A list whose answer never came may have pasted, and
// is not repeated.
std::optional<Result<void>> TargetRouter::pasteThroughControl(const std::string& text, const std::string& pane) {
    using State = TmuxControl::Reply::State;
    if (!control_) return std::nullopt;
    const auto replies = control_->runList(
        {Tmux::paneCheckArguments(pane), Tmux::setBufferArguments(text), Tmux::pasteBufferArguments(pane)});
    const auto& last = replies.back();
    if (last.state == State::notRun) return std::nullopt;
    if (last.state == State::unknown) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(TmuxControl::timeout).count();
        return Result<void>(fail("tmux: tmux timed out after " + std::to_string(seconds) + "s"));
    }
    if (last.ok) return Result<void>();
    if (replies.size() == 1) return Result<void>(fail(goneText(pane)));
    return std::nullopt;
}

// A run that fails tells a pane that is gone (or tmux missing) from any other failure by asking
// once more.
Result<void> TargetRouter::pasteThroughRun(const std::string& text, const std::string& pane) {
    const auto run = tmux_.run(Tmux::pasteTextArguments(pane), text);
    if (run && run->ok) return {};
    if (!run || !tmux_.paneExists(pane)) return fail(goneText(pane));
    return fail("tmux: " + run->output);
}

// An Enter whose answer never came is not pressed again: it may have been.
bool TargetRouter::pressEnter(const std::string& pane) {
    if (control_) {
        const auto pressed = control_->run(Tmux::submitArguments(pane));
        if (pressed.state == TmuxControl::Reply::State::answered) return pressed.ok;
        if (pressed.state == TmuxControl::Reply::State::unknown) return false;
    }
    return !tmuxFailure(tmux_.run(Tmux::submitArguments(pane)));
}

// A frontmost target is never focused: the text goes to whatever app has focus.
DeliveryReceipt TargetRouter::textToApp(const std::string& text, const QuibTarget& target, bool submit) {
    const std::size_t characters = unicode::graphemeCount(text);
    if (!injector_->isTrusted())
        return receipt(target, false, characters, false, std::string(Permissions::accessibilityRefusal));
    if (target.kind == QuibTarget::Kind::app) {
        const Outcome ready = readyForInput(target);
        if (!ready.ok) return receipt(target, false, characters, false, ready.message);
    }
    injector_->paste(text);
    pressReturnIf(submit);
    return receipt(target, true, characters, submit, sentWords(text, target));
}

// A pause switched on meanwhile skips the Return; the receipt still says what was decided.
void TargetRouter::pressReturnIf(bool submit) {
    if (!submit) return;
    sleeper_->sleep(returnPause);
    if (!injector_->isPaused()) injector_->postKeyEvents(returnKeyCode, 0);
}

}  // namespace quib
