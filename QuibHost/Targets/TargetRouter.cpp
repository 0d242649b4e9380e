// Text deliveries and the pieces every delivery shares.

#include "QuibHost/Targets/TargetRouter.hpp"

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
      workspace_(required(std::move(config.desktop.workspace), "TargetRouter", "workspace")),
      roster_(required(std::move(config.desktop.roster), "TargetRouter", "window roster")),
      tmux_(std::move(config.tmux)),
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
    const std::string trimmed(unicode::trimWhiteSpace(text));
    if (trimmed.empty()) return recorded(receipt(target, false, 0, false, std::string(nothingToSendText)));
    if (injector_->isPaused()) {
        return recorded(receipt(target, false, unicode::graphemeCount(trimmed), false, std::string(pausedText)));
    }
    const bool submitting = submits(target, submit);
    if (target.kind == QuibTarget::Kind::tmux) return recorded(textToPane(trimmed, target, submitting));
    return recorded(textToApp(trimmed, target, submitting));
}

// Load, paste (deleting the buffer), then Enter. A failed Enter leaves the text delivered, only
// not submitted.
DeliveryReceipt TargetRouter::textToPane(const std::string& text, const QuibTarget& target, bool submit) {
    const std::size_t characters = unicode::graphemeCount(text);
    const auto pane = resolvePane(target);
    if (!pane) return receipt(target, false, characters, false, pane.error().message);
    if (auto failure = tmuxFailure(tmux_.run(Tmux::loadBufferArguments(), text))) {
        return receipt(target, false, characters, false, std::move(*failure));
    }
    if (auto failure = tmuxFailure(tmux_.run(Tmux::pasteBufferArguments(*pane)))) {
        return receipt(target, false, characters, false, std::move(*failure));
    }
    bool submitted = false;
    if (submit) submitted = !tmuxFailure(tmux_.run(Tmux::submitArguments(*pane)));
    return receipt(target, true, characters, submitted, sentWords(text, target));
}

// A frontmost target is never focused: the text goes to whatever app has focus.
DeliveryReceipt TargetRouter::textToApp(const std::string& text, const QuibTarget& target, bool submit) {
    const std::size_t characters = unicode::graphemeCount(text);
    if (!injector_->isTrusted()) return receipt(target, false, characters, false, std::string(Permissions::accessibilityRefusal));
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
