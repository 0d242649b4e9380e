#pragma once

#include <atomic>

#include "QuibHost/Reach/PortMapperService.hpp"

namespace quib {

// The router of a host that was given no real network: none is ever found, nothing leaves the
// process, and each call is only counted.
class AbsentPortMapperService final : public PortMapperService {
public:
    void map(std::uint16_t, std::uint32_t, CancelToken cancel, std::function<void(Outcome)> done) override {
        ++maps;
        if (!cancel.isCancelled() && done) done(Failure::noGateway());
    }
    void unmap(std::uint16_t, CancelToken cancel, std::function<void()> done) override {
        ++unmaps;
        if (!cancel.isCancelled() && done) done();
    }
    void run(std::function<void()> job) override { job(); }
    void forgetMapping() override {}

    std::atomic<int> maps{0};
    std::atomic<int> unmaps{0};
};

}  // namespace quib
