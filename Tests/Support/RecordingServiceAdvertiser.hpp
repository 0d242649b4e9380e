#pragma once

#include <mutex>
#include <optional>
#include <vector>

#include "Platform/ServiceAdvertiser.hpp"

namespace quib {

// A ServiceAdvertiser for tests: publishes nothing, remembers every call.
class RecordingServiceAdvertiser final : public ServiceAdvertiser {
public:
    struct Advertisement {
        std::string name;
        std::uint16_t port = 0;
        TxtRecord txt;
        bool operator==(const Advertisement&) const = default;
    };

    void advertise(const std::string& name, std::uint16_t port, const TxtRecord& txt) override;
    void withdraw() override;

    // The advertisement now published, if any.
    std::optional<Advertisement> current() const;
    // Every advertise() call so far, oldest first.
    std::vector<Advertisement> history() const;
    int withdrawCount() const;

private:
    mutable std::mutex mutex_;
    std::optional<Advertisement> current_;
    std::vector<Advertisement> history_;
    int withdrawCount_ = 0;
};

}  // namespace quib
