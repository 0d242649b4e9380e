#pragma once

#include <memory>

#include "Platform/SleepWatch.hpp"

namespace quib {

// Sleep and wake as logind announces them on the system bus (its PrepareForSleep signal), and
// logind's "delay" inhibitor to hold a sleep back. The bus is served on a thread of the watch's
// own. Without a system bus (containers, tests) it logs once and watches nothing.
class LogindSleepWatch final : public SleepWatch {
public:
    LogindSleepWatch();
    ~LogindSleepWatch() override;
    LogindSleepWatch(const LogindSleepWatch&) = delete;
    LogindSleepWatch& operator=(const LogindSleepWatch&) = delete;

    bool start(Handler handler) override;
    void delaySleep() override;
    void allowSleep() override;

    // Whether a delay inhibitor is held now (diagnostics, tests).
    bool isDelaying() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace quib
