#pragma once

#include <memory>

#include "Platform/Permissions.hpp"
#include "QuibHost/Server/Neighbours/StillCaptureService.hpp"

namespace quib {

// Stands in for the still capture until screen capture exists: it makes the permission check
// first, as capture does, and otherwise finds no display to photograph.
class DisplaylessStillCapture final : public StillCaptureService {
public:
    explicit DisplaylessStillCapture(std::shared_ptr<Permissions> permissions) : permissions_(std::move(permissions)) {}

    void capture(const QuibTarget&, std::int64_t, std::function<void(Outcome)> done) override {
        done(permissions_->screenRecordingGranted() ? Refusal::noDisplay() : Refusal::notGranted());
    }

private:
    std::shared_ptr<Permissions> permissions_;
};

}  // namespace quib
