#pragma once

#include <string>
#include <vector>

#include "Runtime/Executor.hpp"
#include "Shared/QuibTarget.hpp"

namespace quib {

// What the dispatch asks of the project vocabulary: the recognition terms of a target, worked
// out on the vocabulary's own serial queue.
class VocabularyService {
public:
    virtual ~VocabularyService() = default;
    // The vocabulary's own queue, on which `terms` is called.
    virtual Executor& queue() = 0;
    // The target's terms, in the order the phone should get them; none when nothing is known.
    virtual std::vector<std::string> terms(const QuibTarget& target) = 0;
};

}  // namespace quib
