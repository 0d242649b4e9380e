#pragma once

#include <memory>

namespace quib {

// A cancel signal that blocking waits can watch: a shared flag, and a descriptor that turns
// readable once the token is cancelled, to be polled beside a socket. Copies share one state, so
// the caller keeps a copy and hands another to the work it may stop. Safe from any thread.
class CancelToken {
public:
    // A fresh token, not cancelled.
    CancelToken();

    // Sets the flag and wakes every wait on the descriptor. Later calls do nothing.
    void cancel() const;
    bool isCancelled() const;

    // Readable (POLLIN) once cancelled, and from then on. -1 when the system gave no descriptor:
    // a wait must then look at `isCancelled()` in short slices.
    int descriptor() const;

    // Whether two tokens are copies of one.
    bool operator==(const CancelToken& other) const { return state_ == other.state_; }

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace quib
