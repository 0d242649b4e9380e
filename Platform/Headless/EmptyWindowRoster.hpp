#pragma once

#include <memory>

#include "Platform/Permissions.hpp"
#include "Platform/WindowRoster.hpp"

namespace quib {

// A roster that finds no window: there is no frame to give, and a window to raise or open is
// refused as the real roster refuses it first, for want of trust, and otherwise as closed.
class EmptyWindowRoster final : public WindowRoster {
public:
    // Whether the host is trusted comes from `permissions`; none: it never is.
    explicit EmptyWindowRoster(std::shared_ptr<Permissions> permissions) : permissions_(std::move(permissions)) {}

    Raise raise(std::uint32_t, const std::string&, const std::string&, bool) override { return refusal(); }
    Raise open(std::uint32_t, const std::string&, const std::string&) override { return refusal(); }
    std::optional<Rect> frontWindowFrame(const std::string&) override { return std::nullopt; }
    std::vector<AccessibleWindow> accessibleWindows(const std::string&) override { return {}; }

private:
    Raise refusal() const {
        const bool trusted = permissions_ && permissions_->accessibilityTrusted();
        return Raise::refused(std::string(trusted ? closedText : Permissions::accessibilityRefusal));
    }

    std::shared_ptr<Permissions> permissions_;
};

}  // namespace quib
