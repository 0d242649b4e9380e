#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Platform/PcmBuffer.hpp"
#include "Runtime/Result.hpp"

namespace quib {

// AAC-LC packets, raw access units with nothing before them, back to back in `bytes`, with the
// size of each in order.
struct AacPackets {
    std::vector<std::uint8_t> bytes;
    std::vector<std::int64_t> sizes;

    void clear() {
        bytes.clear();
        sizes.clear();
    }
};

// Turns PCM of one source format into AAC-LC at 48000 Hz, two channels, 1024 frames a packet, at
// a bit rate fixed when it was made. Made by an AacConverterFactory; used by one thread at a time.
class AacConverter {
public:
    virtual ~AacConverter() = default;

    // Bits per second, as the encoder took it.
    virtual std::int64_t bitRate() const = 0;
    // The largest packet it can write.
    virtual std::int64_t maxPacketBytes() const = 0;

    // Takes all of `input` (in the source format) and appends to `output` the packets that are
    // complete, at most `maxPackets` of them; sound that fills no whole packet yet, and packets
    // beyond `maxPackets`, wait for the next call. An error leaves the converter unusable.
    virtual Result<void> convert(const PcmBuffer& input, std::size_t maxPackets, AacPackets& output) = 0;
};

}  // namespace quib
