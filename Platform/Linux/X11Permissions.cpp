#include "Platform/Linux/X11Permissions.hpp"

namespace quib {

std::string X11Permissions::accessibilityHelp() const {
    if (posting_->isGone()) {
        return "The X display went away, so keyboard and mouse input cannot be posted; restart the host once the "
               "X server runs again.";
    }
    return "The X display is open and has the XTEST extension, so keyboard and mouse input can be posted.";
}

std::string X11Permissions::screenRecordingHelp() const {
    return "This host cannot capture the windows of an X display yet.";
}

}  // namespace quib
