#pragma once

#include <string>
#include <vector>

#include "QuibHost/Apps/VocabularyService.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/SerialQueue.hpp"

namespace quib::testing {

// The terms the test sets, for every target, on a queue of its own.
// A neighbour of the server for tests; its state is under a lock of its own, since the server calls
// it from the network queue and the main loop.
class FakeVocabulary final : public VocabularyService {
public:
    Executor& queue() override { return queue_; }
    std::vector<std::string> terms(const QuibTarget&) override {
        MutexLock lock(mutex_);
        return terms_;
    }
    void setTerms(std::vector<std::string> terms) {
        MutexLock lock(mutex_);
        terms_ = std::move(terms);
    }

private:
    SerialQueue queue_{"test.vocabulary"};
    Mutex mutex_;
    std::vector<std::string> terms_ GUARDED_BY(mutex_);
};

}  // namespace quib::testing
