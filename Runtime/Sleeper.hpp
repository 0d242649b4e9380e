#pragma once

#include <memory>

#include "Runtime/Clock.hpp"

namespace quib {

// The short fixed waits that let another app catch up (after a paste, between key presses).
// Tests put a FakeSleeper in so that they run at once.
class Sleeper {
public:
    virtual ~Sleeper() = default;
    // Blocks the calling thread for `duration`.
    virtual void sleep(Duration duration) = 0;
};

// Really waits.
class SystemSleeper final : public Sleeper {
public:
    void sleep(Duration duration) override;
    // The process-wide real sleeper.
    static std::shared_ptr<SystemSleeper> shared();
};

}  // namespace quib
