#include "Runtime/WorkerGroup.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "Runtime/Mutex.hpp"

namespace quib {
namespace {

// Each run gives every slice exactly once, to as many threads as the group has, the first to
// the caller, and returns only when all are done; a group of one runs on the caller alone.
TEST(WorkerGroup, EachRunDoesEverySliceOnceOnThreadsOfItsOwnAndWaitsForThem) {
    for (const int threads : {0, 1, 2, 7}) {
        WorkerGroup group("test.group", threads);
        const int slices = std::max(threads, 1);
        ASSERT_EQ(group.threads(), slices);
        for (int run = 0; run < 200; ++run) {
            std::vector<std::atomic<int>> done(static_cast<std::size_t>(slices));
            Mutex mutex;
            std::set<std::thread::id> seen;
            std::thread::id first;
            group.run([&](int slice, int count) {
                EXPECT_EQ(count, slices);
                if (slice == 0) first = std::this_thread::get_id();
                if (slice == slices - 1) std::this_thread::yield();  // the last is often late
                MutexLock lock(mutex);
                seen.insert(std::this_thread::get_id());
                done[static_cast<std::size_t>(slice)]++;
            });
            for (int slice = 0; slice < slices; ++slice)
                ASSERT_EQ(done[static_cast<std::size_t>(slice)], 1) << threads << " threads, run " << run;
            ASSERT_EQ(static_cast<int>(seen.size()), slices);
            ASSERT_EQ(first, std::this_thread::get_id());
        }
    }
}

}  // namespace
}  // namespace quib
