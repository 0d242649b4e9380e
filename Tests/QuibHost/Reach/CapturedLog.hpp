#pragma once

#include <memory>
#include <string_view>

#include "Runtime/Logger.hpp"

namespace quib::testing {

// Keeps the host's log lines while it lives.
class CapturedLog {
public:
    CapturedLog() : previous_(Logger::setSink(sink_)) {}
    ~CapturedLog() { Logger::setSink(previous_); }
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    bool contains(std::string_view line) const { return sink_->contains(line); }
    std::vector<std::string> lines() const { return sink_->lines(); }

private:
    std::shared_ptr<CapturingLogSink> sink_ = std::make_shared<CapturingLogSink>();
    std::shared_ptr<LogSink> previous_;
};

}  // namespace quib::testing
