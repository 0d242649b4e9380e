#pragma once

#include "Runtime/Mutex.hpp"

namespace quib {

// One kind of request of one connection, queued on a serial queue: repeats that arrive while it
// waits join it instead of queueing again, so that a phone repeating itself holds one place in
// the queue, however often it asks. Once the queued request starts, the next one waits anew.
// Any thread.
class WaitingRequest {
public:
    // True when the request must be queued; false when it joined the one already waiting.
    // A request that asks for fresh data makes the waiting one ask for it too.
    bool join(bool refresh = false);
    // As the queued request starts: whether it, or any request that joined it, asked for fresh
    // data. Later requests wait anew.
    bool start();

private:
    Mutex mutex_;
    bool waiting_ GUARDED_BY(mutex_) = false;
    bool refresh_ GUARDED_BY(mutex_) = false;
};

}  // namespace quib
