#include "Runtime/AssertOn.hpp"

#if QUIB_ASSERT_QUEUES
#include <cstdio>
#include <cstdlib>

#include "Runtime/SerialQueue.hpp"

namespace quib {

void assertOn(const Executor& queue, SourceLocation where) {
    if (queue.isCurrent()) return;
    const auto* serial = dynamic_cast<const SerialQueue*>(&queue);
    std::fprintf(stderr, "%s:%u: %s ran off its queue%s%s\n", where.file_name(), static_cast<unsigned>(where.line()),
                 where.function_name(), serial ? " " : "", serial ? serial->label().c_str() : "");
    std::fflush(stderr);
    std::abort();
}

}  // namespace quib
#endif
