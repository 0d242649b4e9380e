#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "QuibHost/Reach/PortMapperService.hpp"

namespace quib::testing {

// A router the test answers by hand: each map waits until `answer`; unmaps and nonce renewals
// are recorded; the caller's own jobs run at once. For one thread only (the test's).
class FakePortMapper final : public PortMapperService {
public:
    struct Map {
        std::uint16_t port = 0;
        std::uint32_t lifetime = 0;
        CancelToken cancel;
        std::function<void(Outcome)> done;
    };
    struct Unmap {
        std::uint16_t port = 0;
        bool mapCancelled = false;  // whether every map asked before it was cancelled by then
    };

    void map(std::uint16_t port, std::uint32_t lifetime, CancelToken cancel,
             std::function<void(Outcome)> done) override {
        maps.push_back({port, lifetime, std::move(cancel), std::move(done)});
    }
    void unmap(std::uint16_t port, CancelToken, std::function<void()>) override {
        bool cancelled = true;
        for (const auto& m : maps) cancelled = cancelled && m.cancel.isCancelled();
        unmaps.push_back({port, cancelled});
    }
    void run(std::function<void()> job) override { job(); }
    void forgetMapping() override { ++forgotten; }

    // Answers the newest map, as the mapper would: not at all once it was cancelled.
    void answer(Outcome outcome) {
        const Map& last = maps.back();
        if (!last.cancel.isCancelled()) last.done(std::move(outcome));
    }
    // Answers it even when cancelled: a result that arrives too late.
    void answerLate(Outcome outcome) { maps.back().done(std::move(outcome)); }

    std::vector<Map> maps;
    std::vector<Unmap> unmaps;
    int forgotten = 0;
};

}  // namespace quib::testing
