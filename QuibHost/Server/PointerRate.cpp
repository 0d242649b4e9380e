#include "QuibHost/Server/PointerRate.hpp"

namespace quib {

std::optional<double> PointerRate::count(MonoTime now) {
    ++count_;
    if (now - windowStart_ < window) return std::nullopt;
    const double elapsed = std::chrono::duration<double>(now - windowStart_).count();
    const double rate = static_cast<double>(count_) / elapsed;
    count_ = 0;
    windowStart_ = now;
    return rate;
}

}  // namespace quib
