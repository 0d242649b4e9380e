#pragma once

#include <string_view>

namespace quib {

// Stops the process at once, saying which part `owner` was made without. A missing part is a slip
// of whatever wired the parts together, so it shows at start instead of leaving a stand-in in
// its place.
[[noreturn]] void missingPart(std::string_view owner, std::string_view part);

// `part`, which `owner` cannot work without (a pointer or a function); stops the process when it
// is empty.
template <class Part>
Part required(Part part, std::string_view owner, std::string_view name) {
    if (!part) missingPart(owner, name);
    return part;
}

}  // namespace quib
