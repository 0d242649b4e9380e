#pragma once

#include <cstdint>

namespace quib {

// Constants of the listen channel, shared with the phone.
struct AudioChannel {
    // What is captured and encoded.
    static constexpr std::int64_t sampleRate = 48000;
    static constexpr std::int64_t channels = 2;
    // PCM frames that one AAC packet decodes to.
    static constexpr std::int64_t framesPerPacket = 1024;
    // AAC packets that make an audio frame ready to send.
    static constexpr std::int64_t packetsPerFrame = 2;
    static constexpr double packetSeconds = static_cast<double>(framesPerPacket) / sampleRate;
    // The largest AAC packet of the channel (6144 bits for each channel); packets are not
    // checked against it.
    static constexpr std::int64_t maxPacketBytes = 1536;
    // The cap on the header and, separately, on the payload of one audio frame.
    static constexpr std::int64_t maxFrameBytes = 262144;
};

}  // namespace quib
