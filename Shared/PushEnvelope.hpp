#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Runtime/Bytes.hpp"
#include "Runtime/Result.hpp"
#include "Shared/AgentAlert.hpp"
#include "Shared/Json.hpp"

namespace quib {

// The form in which an alert leaves the host. The relay and the push service see only a
// placeholder title and body, an opaque thread identifier, a few presentation hints and a
// sealed box: the alert's JSON under AES-256-GCM with the 32-byte key that the host shares with
// that one phone. Pure functions of their inputs, apart from each seal's random nonce.
class PushEnvelope {
public:
    static constexpr std::size_t keyLength = 32;
    static constexpr std::size_t nonceLength = 12;
    static constexpr std::size_t tagLength = 16;
    using Nonce = std::array<std::uint8_t, nonceLength>;

    // Where the envelope sits inside the notification payload, and the only alert text the push
    // service ever sees.
    static constexpr std::string_view payloadKey = "m";
    static constexpr std::string_view placeholderTitle = "Quib";
    static constexpr std::string_view placeholderBody = "Something needs you";

    // A sealed alert. `box` is standard Base64 of nonce, ciphertext (as long as the alert's JSON)
    // and tag. Both keys are required when decoding.
    struct Sealed {
        static constexpr std::int64_t currentVersion = 1;

        std::string box;
        std::int64_t version = currentVersion;

        static Sealed fromJson(const Json& json);
        Json toJson() const;
        bool operator==(const Sealed&) const = default;
    };

    // The envelope's own failures; `error(failure)` is how they travel. Errors of the JSON
    // encoder and of the cipher are passed on as they come.
    enum class Failure {
        noKeyFits,   // none of the keys tried opens the box
        unreadable,  // a version other than 1, or a box that is not Base64
        badKey,      // the sealing key is not exactly 32 bytes
    };
    static Error error(Failure failure);

    // Seals the alert under `key` with a fresh random nonce.
    static Result<Sealed> seal(const AgentAlert& alert, std::span<const std::uint8_t> key);
    // The same with the nonce given (known-answer checks).
    static Result<Sealed> seal(const AgentAlert& alert, std::span<const std::uint8_t> key, const Nonce& nonce);
    // The alert, opened with the first key that opens the box and decodes as an alert. Keys that
    // are not 32 bytes are skipped.
    static Result<AgentAlert> open(const Sealed& envelope, const std::vector<Bytes>& keys);

    // The notification payload: "aps" with the placeholder alert, "mutable-content" 1, the
    // category, the opaque thread id, the relevance, "interruption-level" ("time-sensitive" or
    // "passive") and, unless silent, "sound"; the envelope beside it under "m".
    static Json payload(const Sealed& envelope, std::string_view category, bool isTimeSensitive, bool isSilent,
                        std::string_view threadID, double relevance);

    // The first 8 bytes of the SHA-256 digest of the thread id, as 16 lower-case hex digits: the
    // same thread always gives the same id, and the thread id itself never leaves the host.
    static std::string opaqueThread(std::string_view threadID);

    // The cipher alone: AES-256-GCM without additional data, giving nonce ‖ ciphertext ‖ tag.
    static Result<Bytes> sealCombined(std::span<const std::uint8_t> plaintext, std::span<const std::uint8_t> key,
                                      const Nonce& nonce);
    // The plaintext of a combined box, or nothing when the key does not open it (wrong key,
    // altered bytes, a box shorter than nonce and tag, a key that is not 32 bytes).
    static std::optional<Bytes> openCombined(std::span<const std::uint8_t> combined, std::span<const std::uint8_t> key);
};

}  // namespace quib
