#pragma once

#include <memory>

#include "Platform/AccessibilityProbe.hpp"
#include "Platform/Linux/X11Connection.hpp"
#include "Platform/Permissions.hpp"

namespace quib {

// What an X display lets the host do: post input while the display that was opened with XTEST
// is still there. Capture is not granted yet.
class X11Permissions final : public Permissions, public AccessibilityProbe {
public:
    // `posting` is the connection input goes through; it had XTEST when opened.
    explicit X11Permissions(std::shared_ptr<X11Connection> posting) : posting_(std::move(posting)) {}

    bool accessibilityTrusted() const override { return !posting_->isGone(); }
    bool screenRecordingGranted() const override { return false; }
    std::string accessibilityHelp() const override;
    std::string screenRecordingHelp() const override;
    // The display answers while it is there.
    std::int32_t focusedElementError() override { return posting_->isGone() ? cannotComplete : success; }

private:
    std::shared_ptr<X11Connection> posting_;
};

}  // namespace quib
