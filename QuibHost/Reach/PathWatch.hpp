#pragma once

#include <functional>
#include <string>

namespace quib {

// Tells the controller about the network path: each time it may have changed, one signature
// that is equal for equal paths. Updates may come from any thread.
class PathWatch {
public:
    virtual ~PathWatch() = default;
    // Replaces any earlier watch; the first update comes at once.
    virtual void start(std::function<void(std::string signature)> update) = 0;
};

}  // namespace quib
