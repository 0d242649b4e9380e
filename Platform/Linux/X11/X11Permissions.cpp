#include "Platform/Linux/X11/X11Permissions.hpp"

namespace quib {

X11Permissions::X11Permissions(std::shared_ptr<X11Connection> posting) : posting_(std::move(posting)) {
    posting_->use([&](Display* display) { capture_ = X11CaptureExtensions::query(display); });
}

std::string X11Permissions::accessibilityHelp() const {
    if (posting_->isGone()) {
        return "The X display went away, so keyboard and mouse input cannot be posted; restart the host once the "
               "X server runs again.";
    }
    return "The X display is open and has the XTEST extension, so keyboard and mouse input can be posted.";
}

std::string X11Permissions::screenRecordingHelp() const {
    if (posting_->isGone()) {
        return "The X display went away, so windows cannot be captured; restart the host once the X server runs "
               "again.";
    }
    const auto missing = capture_.missing();
    if (missing.empty()) {
        return "The X display is open and has the Composite, DAMAGE and XFIXES extensions, so windows can be "
               "captured.";
    }
    std::string names;
    for (std::size_t i = 0; i < missing.size(); ++i) {
        if (i > 0) names += i + 1 == missing.size() ? " and " : ", ";
        names += missing[i];
    }
    return "The X display lacks the " + names + (missing.size() == 1 ? " extension" : " extensions") +
           ", so windows cannot be captured; run an X server that has " + (missing.size() == 1 ? "it." : "them.");
}

}  // namespace quib
