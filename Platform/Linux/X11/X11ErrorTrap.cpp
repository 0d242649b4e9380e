#include "Platform/Linux/X11/X11ErrorTrap.hpp"

namespace quib {
namespace {

// The innermost trap of this thread.
thread_local X11ErrorTrap* innermost = nullptr;

}  // namespace

X11ErrorTrap::X11ErrorTrap(Display* display)
    : display_(display), firstRequest_(NextRequest(display)), outer_(innermost) {
    innermost = this;
}

X11ErrorTrap::~X11ErrorTrap() { innermost = outer_; }

std::optional<int> X11ErrorTrap::firstError() {
    XSync(display_, False);
    return error_;
}

bool X11ErrorTrap::claim(Display* display, const XErrorEvent& error) {
    for (X11ErrorTrap* trap = innermost; trap; trap = trap->outer_) {
        if (trap->display_ != display || error.serial < trap->firstRequest_) continue;
        if (!trap->error_) trap->error_ = error.error_code;
        return true;
    }
    return false;
}

}  // namespace quib
