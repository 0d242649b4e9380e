#include "Runtime/WorkerGroup.hpp"

#include <algorithm>

namespace quib {

WorkerGroup::WorkerGroup(std::string_view label, int threads) {
    const int slices = std::max(threads, 1);
    for (int slice = 1; slice < slices; ++slice)
        workers_.push_back(std::make_unique<WorkerThread>(
            label, [shared = &shared_, slice, slices] { work(*shared, slice, slices); }));
}

WorkerGroup::~WorkerGroup() {
    {
        MutexLock lock(shared_.mutex);
        shared_.ending = true;
    }
    shared_.wake.notify_all();
    workers_.clear();  // joins them
}

// A worker takes each run's slice once: a run does not return, and so no next run begins,
// before every worker has finished the slice it took.
void WorkerGroup::work(Shared& shared, int slice, int slices) {
    std::uint64_t seen = 0;
    for (;;) {
        const Slice* job = nullptr;
        {
            UniqueLock lock(shared.mutex);
            shared.wake.wait(lock.native(), [&] {
                shared.mutex.assertHeld();
                return shared.ending || shared.runs != seen;
            });
            if (shared.ending) return;
            seen = shared.runs;
            job = shared.slice;
        }
        (*job)(slice, slices);
        MutexLock lock(shared.mutex);
        if (--shared.unfinished == 0) shared.done.notify_one();
    }
}

void WorkerGroup::run(const Slice& slice) {
    const int slices = threads();
    if (slices == 1) return slice(0, 1);
    {
        MutexLock lock(shared_.mutex);
        shared_.slice = &slice;
        shared_.unfinished = slices - 1;
        ++shared_.runs;
    }
    shared_.wake.notify_all();
    slice(0, slices);
    UniqueLock lock(shared_.mutex);
    shared_.done.wait(lock.native(), [&] {
        shared_.mutex.assertHeld();
        return shared_.unfinished == 0;
    });
    shared_.slice = nullptr;
}

}  // namespace quib
