#pragma once

#include <memory>

#include "Platform/SerialQueue.hpp"
#include "QuibHost/Server/Neighbours/VocabularyService.hpp"

namespace quib {

// Stands in for the project vocabulary until it exists: no target has any terms.
class NoVocabulary final : public VocabularyService {
public:
    explicit NoVocabulary(std::shared_ptr<Clock> clock) : queue_("com.brenmoor.quib.host.vocabulary", std::move(clock)) {}

    Executor& queue() override { return queue_; }
    std::vector<std::string> terms(const QuibTarget&) override { return {}; }

private:
    SerialQueue queue_;
};

}  // namespace quib
