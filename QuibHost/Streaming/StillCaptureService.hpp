#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <variant>

#include "Runtime/Bytes.hpp"
#include "Runtime/HostWords.hpp"
#include "Shared/QuibTarget.hpp"

namespace quib {

// What the still channel asks for: one picture of a target.
class StillCaptureService {
public:
    // A PNG of what was photographed, its size in pixels and what it shows.
    struct Still {
        Bytes png;
        std::int64_t width = 0;
        std::int64_t height = 0;
        std::string title;
    };

    // Why there is no picture; `message` is what the phone shows.
    struct Refusal {
        enum class Kind { noWindow, failed, notGranted, noDisplay };
        Kind kind = Kind::failed;
        std::string detail;  // the target's name (noWindow) or what failed (failed)

        static Refusal noWindow(std::string name) { return {Kind::noWindow, std::move(name)}; }
        static Refusal failed(std::string detail) { return {Kind::failed, std::move(detail)}; }
        static Refusal notGranted() { return {Kind::notGranted, {}}; }
        static Refusal noDisplay() { return {Kind::noDisplay, {}}; }

        static constexpr std::string_view grantText =
            said<HostWords::product, " needs ", HostWords::captureNeed, " first \u2014 see ", HostWords::panel>;

        std::string message() const {
            switch (kind) {
                case Kind::noWindow: return "Couldn't find a window for " + detail;
                case Kind::failed: return "Screenshot failed: " + detail;
                case Kind::notGranted: return std::string(grantText);
                case Kind::noDisplay: return "Couldn't find a display to photograph";
            }
            return {};
        }
    };

    using Outcome = std::variant<Still, Refusal>;

    virtual ~StillCaptureService() = default;
    // Photographs the target no larger than `maxLongEdge` pixels on its long side and hands the
    // outcome to `done`, once, on a thread of the service's choosing.
    virtual void capture(const QuibTarget& target, std::int64_t maxLongEdge, std::function<void(Outcome)> done) = 0;
};

}  // namespace quib
