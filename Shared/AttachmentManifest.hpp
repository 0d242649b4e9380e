#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Shared/Json.hpp"
#include "Shared/KeyChord.hpp"

namespace quib {

// The first line of an upload channel: who is sending, which targets the images go to, the
// caption and how many images follow. Every key may be missing or null and then takes the
// default below; a present value of the wrong type fails the record.
struct AttachmentManifest {
    std::int64_t protocolVersion = 23;
    std::string deviceName = "iPhone";
    std::string deviceID;
    std::vector<std::string> targetIDs;   // in delivery order
    std::string text;                     // caption delivered with the images
    std::optional<bool> submit;           // absent: the target's own setting decides
    std::int64_t count = 0;               // images that will follow
    std::optional<KeyChord> followChord;  // pressed on each target after a successful delivery

    static AttachmentManifest fromJson(const Json& json);
    Json toJson() const;
    bool operator==(const AttachmentManifest&) const = default;
};

}  // namespace quib
