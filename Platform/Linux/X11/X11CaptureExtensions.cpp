#include "Platform/Linux/X11/X11CaptureExtensions.hpp"

#include <X11/extensions/XShm.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>

namespace quib {

X11CaptureExtensions X11CaptureExtensions::query(Display* display) {
    X11CaptureExtensions found;
    int eventBase = 0, errorBase = 0;
    if (XCompositeQueryExtension(display, &eventBase, &errorBase)) {
        int major = 0, minor = 4;  // the newest this client knows
        if (XCompositeQueryVersion(display, &major, &minor)) {
            found.compositeMajor = major;
            found.compositeMinor = minor;
        }
    }
    // DAMAGE and XFIXES serve a connection only once it has told them its version.
    int major = 1, minor = 1;
    found.damage =
        XDamageQueryExtension(display, &eventBase, &errorBase) && XDamageQueryVersion(display, &major, &minor);
    major = 6, minor = 0;
    found.xfixes = XFixesQueryExtension(display, &eventBase, &errorBase) && XFixesQueryVersion(display, &major, &minor);
    found.sharedMemory = XShmQueryExtension(display);
    return found;
}

std::vector<std::string> X11CaptureExtensions::missing() const {
    std::vector<std::string> names;
    if (!hasComposite()) names.emplace_back("Composite 0.2");
    if (!damage) names.emplace_back("DAMAGE");
    if (!xfixes) names.emplace_back("XFIXES");
    return names;
}

}  // namespace quib
