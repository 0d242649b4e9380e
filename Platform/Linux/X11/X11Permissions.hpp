#pragma once

#include <memory>

#include "Platform/AccessibilityProbe.hpp"
#include "Platform/Linux/X11/X11CaptureExtensions.hpp"
#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Permissions.hpp"

namespace quib {

// What an X display lets the host do, while the display that was opened with XTEST is still
// there: post input, and capture windows when the server has the extensions that takes.
class X11Permissions final : public Permissions, public AccessibilityProbe {
public:
    // `posting` is the connection input goes through; it had XTEST when opened. The server's
    // capture extensions are asked for once, now.
    explicit X11Permissions(std::shared_ptr<X11Connection> posting);

    bool accessibilityTrusted() const override { return !posting_->isGone(); }
    bool screenRecordingGranted() const override { return !posting_->isGone() && capture_.canCapture(); }
    std::string accessibilityHelp() const override;
    std::string screenRecordingHelp() const override;
    // The display answers while it is there.
    std::int32_t focusedElementError() override { return posting_->isGone() ? cannotComplete : success; }

private:
    std::shared_ptr<X11Connection> posting_;
    X11CaptureExtensions capture_;
};

}  // namespace quib
