#include "Platform/Headless/HeadlessPermissions.hpp"

namespace quib {

std::string HeadlessPermissions::accessibilityHelp() const {
    return "No X display is open, so keyboard and mouse input cannot be posted; start the host with DISPLAY "
           "set to an X server that has the XTEST extension.";
}

std::string HeadlessPermissions::screenRecordingHelp() const {
    return "No X display is open, so no window can be captured; start the host with DISPLAY set to an X server.";
}

}  // namespace quib
