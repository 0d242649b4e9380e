#include "Runtime/Required.hpp"

#include <cstdio>
#include <cstdlib>

namespace quib {

void missingPart(std::string_view owner, std::string_view part) {
    std::fprintf(stderr, "quib: %.*s was made without its %.*s\n", static_cast<int>(owner.size()), owner.data(),
                 static_cast<int>(part.size()), part.data());
    std::abort();
}

}  // namespace quib
