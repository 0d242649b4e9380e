#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "Runtime/Mutex.hpp"
#include "Runtime/WorkerThread.hpp"

namespace quib {

// A few threads that do one job together with the thread that hands it over: for work that
// splits into slices of the same size, such as the rows of a picture. Each run gives every
// thread one slice, the caller's thread the first, and returns once all have been done.
//
// Threads: run() is called from one thread at a time; the slices run at once on the group's
// threads, so they touch nothing in common.
class WorkerGroup {
public:
    // Does slice `slice` of `slices`.
    using Slice = std::function<void(int slice, int slices)>;

    // `threads`: how many threads a run spreads over, the caller's own included (at least one);
    // the group starts one fewer, named after `label`.
    WorkerGroup(std::string_view label, int threads);
    ~WorkerGroup();
    WorkerGroup(const WorkerGroup&) = delete;
    WorkerGroup& operator=(const WorkerGroup&) = delete;

    int threads() const { return static_cast<int>(workers_.size()) + 1; }

    // Runs slice 0 of threads() here and each other slice on a thread of the group; returns
    // when every slice has returned.
    void run(const Slice& slice);

private:
    struct Shared {
        Mutex mutex;
        std::condition_variable wake;  // a run has begun, or the group ends
        std::condition_variable done;  // the last worker finished its slice
        std::uint64_t runs GUARDED_BY(mutex) = 0;
        const Slice* slice GUARDED_BY(mutex) = nullptr;
        int unfinished GUARDED_BY(mutex) = 0;
        bool ending GUARDED_BY(mutex) = false;
    };

    static void work(Shared& shared, int slice, int slices);

    Shared shared_;  // first: the workers use it until they are joined
    std::vector<std::unique_ptr<WorkerThread>> workers_;
};

}  // namespace quib
