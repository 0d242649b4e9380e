#include "Runtime/WorkerThread.hpp"

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <pthread.h>

namespace quib {
namespace {

using namespace std::chrono_literals;

TEST(WorkerThread, DestroyingItFromOutsideWaitsForTheBody) {
    std::atomic<bool> finished = false;
    {
        WorkerThread worker("test.worker", [&] {
            std::this_thread::sleep_for(20ms);
            finished = true;
        });
        EXPECT_FALSE(worker.isCurrent());
    }
    EXPECT_TRUE(finished);
}

TEST(WorkerThread, AnOwnerDestroyedFromItsOwnThreadLetsItFinishAndItIsCountedUntilItEnds) {
    const int before = WorkerThread::runningLetGo();
    std::promise<void> owned;
    std::promise<void> release;
    std::promise<bool> wasCurrent;
    auto ownedFuture = owned.get_future().share();
    auto releaseFuture = release.get_future().share();
    auto holder = std::make_shared<std::unique_ptr<WorkerThread>>();
    *holder = std::make_unique<WorkerThread>("test.worker", [=, &wasCurrent] {
        ownedFuture.wait();
        wasCurrent.set_value((*holder)->isCurrent());
        holder->reset();  // the owner goes from inside its own thread
        releaseFuture.wait();
    });
    owned.set_value();
    EXPECT_TRUE(wasCurrent.get_future().get());

    const auto waitFor = [](int count) {
        for (int i = 0; i < 500 && WorkerThread::runningLetGo() != count; ++i) std::this_thread::sleep_for(2ms);
        return WorkerThread::runningLetGo();
    };
    EXPECT_EQ(waitFor(before + 1), before + 1);
    release.set_value();
    EXPECT_EQ(waitFor(before), before);
}

// An owner that lets go from outside waits for nothing; the thread counts until it ends, and a
// thread that has ended already is never counted.
TEST(WorkerThread, LetGoFromOutsideItCountsOnlyUntilItEnds) {
    const int before = WorkerThread::runningLetGo();
    std::promise<void> release;
    auto releaseFuture = release.get_future().share();
    WorkerThread busy("test.worker", [=] { releaseFuture.wait(); });
    busy.letGo();
    busy.letGo();
    EXPECT_EQ(WorkerThread::runningLetGo(), before + 1);
    const auto settled = [&] {
        for (int i = 0; i < 500 && WorkerThread::runningLetGo() != before; ++i) std::this_thread::sleep_for(2ms);
        return WorkerThread::runningLetGo();
    };
    release.set_value();
    EXPECT_EQ(settled(), before);

    std::promise<void> done;
    WorkerThread quick("test.worker", [&] { done.set_value(); });
    done.get_future().wait();
    std::this_thread::sleep_for(20ms);  // most likely past the end of its body
    quick.letGo();
    EXPECT_EQ(settled(), before);
}

TEST(WorkerThread, JoiningTwiceOrFromItselfDoesNothing) {
    std::promise<void> joinedInside;
    WorkerThread* self = nullptr;
    std::promise<void> started;
    WorkerThread worker("test.worker", [&] {
        started.get_future().wait();
        self->join();  // from its own thread: no effect, no deadlock
        joinedInside.set_value();
    });
    self = &worker;
    started.set_value();
    worker.join();
    worker.join();
    EXPECT_EQ(joinedInside.get_future().wait_for(0s), std::future_status::ready);
}

// Linux keeps 15 characters of a thread's name: a long label keeps its last dotted parts that fit.
TEST(WorkerThread, IsNamedAfterItsLabelCutToWhatLinuxKeeps) {
    EXPECT_EQ(WorkerThread::threadName("com.brenmoor.quib.host.net"), "quib.host.net");
    EXPECT_EQ(WorkerThread::threadName("com.brenmoor.quib.host.inject"), "host.inject");
    EXPECT_EQ(WorkerThread::threadName("host.vocabulary"), "host.vocabulary");
    EXPECT_EQ(WorkerThread::threadName("com.example.averyveryverylongpart"), "averyveryverylo");
    EXPECT_EQ(WorkerThread::threadName("nodotsinthisverylonglabel"), "nodotsinthisver");

    std::string seen;
    {
        WorkerThread worker("com.brenmoor.quib.host.menu", [&] {
            char name[16] = {};
            if (::pthread_getname_np(::pthread_self(), name, sizeof name) == 0) seen = name;
        });
    }
    EXPECT_EQ(seen, "quib.host.menu");
}

}  // namespace
}  // namespace quib
