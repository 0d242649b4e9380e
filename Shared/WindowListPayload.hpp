#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Shared/Json.hpp"
#include "Shared/MacWindow.hpp"
#include "Shared/PayloadChunker.hpp"

namespace quib {

// One chunk of a target app's window list. Decoded tolerantly; a missing sequence and isFinal
// read as one complete answer.
struct WindowListPayload {
    std::string targetID;
    std::vector<MacWindow> windows;
    std::optional<std::string> note;  // about the whole list; on the first chunk only
    std::int64_t sequence = 0;
    bool isFinal = true;

    // The windows split under `budget` (see PayloadChunker); never empty. The note goes on the
    // first payload only.
    static std::vector<WindowListPayload> chunked(std::vector<MacWindow> windows, const std::string& targetID,
                                                  const std::optional<std::string>& note,
                                                  std::int64_t budget = PayloadChunker::messageBudget);

    static WindowListPayload fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const WindowListPayload&) const = default;
};

}  // namespace quib
