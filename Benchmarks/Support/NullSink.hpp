#pragma once

#include "Runtime/Logger.hpp"

namespace quib::bench {

// A log that keeps no line: what a benchmark measures pays for the logging calls only.
class NullSink final : public LogSink {
public:
    void write(const LogRecord&) override {}
};

}  // namespace quib::bench
