#pragma once

#include <atomic>

#include "Platform/Permissions.hpp"

namespace quib {

// Permissions a test grants and withdraws at will.
class SettablePermissions final : public Permissions {
public:
    bool accessibilityTrusted() const override { return accessibility_.load(); }
    bool screenRecordingGranted() const override { return screenRecording_.load(); }
    std::string accessibilityHelp() const override { return "Typing and clicking are withdrawn in this test."; }
    std::string screenRecordingHelp() const override { return "Screen recording is withdrawn in this test."; }

    void setAccessibilityTrusted(bool on) { accessibility_.store(on); }
    void setScreenRecordingGranted(bool on) { screenRecording_.store(on); }

private:
    std::atomic<bool> accessibility_{false};
    std::atomic<bool> screenRecording_{false};
};

}  // namespace quib
