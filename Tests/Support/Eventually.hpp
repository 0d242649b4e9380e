#pragma once

#include <chrono>
#include <functional>

namespace quib::testing {

// Looks at `condition` every `period` until it holds; false when it still does not after
// `timeout`. `between` runs before each look (a test pumps its main loop there), so what it runs
// is seen by the last look too. Real time only bounds the wait. A condition that is dear to look
// at (one that reads a whole display, say) takes a longer period.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(5),
                const std::function<void()>& between = nullptr,
                std::chrono::milliseconds period = std::chrono::milliseconds(2));

}  // namespace quib::testing
