#include "Runtime/AssertOn.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Runtime/SerialQueue.hpp"

namespace quib {

void ranOffQueue(std::string_view queue, SourceLocation where) {
    std::fprintf(stderr, "%s:%u: %s ran off its queue%s%.*s\n", where.file_name(), static_cast<unsigned>(where.line()),
                 where.function_name(), queue.empty() ? "" : " ", static_cast<int>(queue.size()), queue.data());
    std::fflush(stderr);
    std::abort();
}

#if QUIB_ASSERT_QUEUES
void assertOn(const Executor& queue, SourceLocation where) {
    if (queue.isCurrent()) return;
    const auto* serial = dynamic_cast<const SerialQueue*>(&queue);
    ranOffQueue(serial ? std::string_view(serial->label()) : std::string_view(), where);
}

void assertOnQueueLabelled(std::string_view label, SourceLocation where) {
    if (!SerialQueue::isCurrentLabelled(label)) ranOffQueue(label, where);
}
#endif

}  // namespace quib
