#pragma once

#include "Platform/Permissions.hpp"

namespace quib {

// A machine without a display: the host can neither post input nor capture anything.
class HeadlessPermissions final : public Permissions {
public:
    bool accessibilityTrusted() const override { return false; }
    bool screenRecordingGranted() const override { return false; }
    std::string accessibilityHelp() const override;
    std::string screenRecordingHelp() const override;
};

}  // namespace quib
