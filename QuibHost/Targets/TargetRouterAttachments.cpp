// Image deliveries: file paths into a pane, pasted images into an app.

#include <algorithm>

#include "QuibHost/Targets/TargetRouter.hpp"
#include "Runtime/AssertOn.hpp"
#include "Runtime/UnicodeText.hpp"

namespace quib {
namespace {

// "Sent 1 image to Editor", "Sent 2 images to Editor".
std::string sentImages(std::size_t count, const QuibTarget& target) {
    return "Sent " + std::to_string(count) + (count == 1 ? " image" : " images") + " to " + target.name;
}

bool staysBare(char32_t c) {
    return unicode::isAlphanumeric(c) || unicode::isNumeric(c) || c == U'/' || c == U'.' || c == U'_' || c == U'-';
}

}  // namespace

std::string TargetRouter::shellQuoted(std::string_view path) {
    const std::u32string points = unicode::codePoints(path);
    if (std::all_of(points.begin(), points.end(), staysBare)) return std::string(path);
    std::string quoted = "'";
    for (const char c : path) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

DeliveryReceipt TargetRouter::deliver(const std::vector<UploadAttachment>& attachments, const std::string& caption,
                                      const QuibTarget& target, std::optional<bool> submit) {
    assertOnQueueLabelled(queueLabel);
    if (attachments.empty()) return recorded(receipt(target, false, 0, false, std::string(nothingToSendText)));
    if (injector_->isPaused()) return recorded(receipt(target, false, 0, false, std::string(pausedText)));
    // The text delivery into the pane writes the one log line of this delivery.
    if (target.kind == QuibTarget::Kind::tmux) return pathsToPane(attachments, caption, target, submit);
    return recorded(imagesToApp(attachments, caption, target, submit));
}

// The caption on the first line, when there is one, then one quoted path a line, for the program
// in the pane to pick up.
std::string TargetRouter::captionAndPaths(const std::vector<UploadAttachment>& attachments,
                                          const std::string& caption) {
    std::string lines(unicode::trimWhiteSpace(caption));
    for (const auto& attachment : attachments) {
        if (!lines.empty()) lines += '\n';
        lines += shellQuoted(attachment.file.string());
    }
    return lines;
}

DeliveryReceipt TargetRouter::pathsToPane(const std::vector<UploadAttachment>& attachments, const std::string& caption,
                                          const QuibTarget& target, std::optional<bool> submit) {
    DeliveryReceipt delivered = deliver(captionAndPaths(attachments, caption), target, submit);
    if (delivered.ok) delivered.message = sentImages(attachments.size(), target);
    return delivered;
}

// Until something is pasted, the receipt counts the caption as it came. When no image could be
// read and there is no caption, nothing reached the app, so nothing is submitted either.
DeliveryReceipt TargetRouter::imagesToApp(const std::vector<UploadAttachment>& attachments, const std::string& caption,
                                          const QuibTarget& target, std::optional<bool> submit) {
    const std::size_t captionCharacters = unicode::graphemeCount(caption);
    if (!injector_->isTrusted())
        return receipt(target, false, captionCharacters, false, std::string(Permissions::accessibilityRefusal));
    if (target.kind == QuibTarget::Kind::app) {
        const Outcome ready = readyForInput(target);
        if (!ready.ok) return receipt(target, false, captionCharacters, false, ready.message);
    }
    // A terminal takes no pasted picture: it gets the inbox paths as a pane does.
    if (events_ && events_->focusIsTerminal()) return pathsToTerminal(attachments, caption, target, submit);
    bool pastedAny = false;
    for (const auto& attachment : attachments) {
        pastedAny = injector_->paste(attachment.file, attachment.format) || pastedAny;
        sleeper_->sleep(imagePause);
    }
    const std::string trimmed(unicode::trimWhiteSpace(caption));
    const std::size_t characters = unicode::graphemeCount(trimmed);
    if (!pastedAny && trimmed.empty())
        return receipt(target, false, characters, false, std::string(unreadableImagesText));
    if (!trimmed.empty()) injector_->paste(trimmed);
    const bool submitting = submits(target, submit);
    pressReturnIf(submitting);
    return receipt(target, true, characters, submitting, sentImages(attachments.size(), target));
}

// The app is in front already: the text is pasted as text is.
DeliveryReceipt TargetRouter::pathsToTerminal(const std::vector<UploadAttachment>& attachments,
                                              const std::string& caption, const QuibTarget& target,
                                              std::optional<bool> submit) {
    const std::string lines = captionAndPaths(attachments, caption);
    injector_->paste(lines);
    const bool submitting = submits(target, submit);
    pressReturnIf(submitting);
    return receipt(target, true, unicode::graphemeCount(lines), submitting, sentImages(attachments.size(), target));
}

}  // namespace quib
