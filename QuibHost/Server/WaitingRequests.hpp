#pragma once

#include <set>
#include <string>

#include "Runtime/Mutex.hpp"

namespace quib {

// One kind of request of one connection that names a target, queued on a serial queue: while a
// request for a target waits, repeats for that target join it instead of queueing again, so that
// a phone repeating itself holds one place in the queue for each target, however often it asks.
// Once the queued request starts, the next one for that target waits anew. Any thread.
class WaitingRequests {
public:
    // True when the request for `target` must be queued; false when it joined the one waiting.
    bool join(const std::string& target);
    // As the queued request for `target` starts: later requests for it wait anew.
    void start(const std::string& target);

private:
    Mutex mutex_;
    std::set<std::string> waiting_ GUARDED_BY(mutex_);  // only targets that exist get here
};

}  // namespace quib
