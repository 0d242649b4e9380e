#pragma once

#include <cstddef>
#include <string>

namespace quib {

// The layout of linear PCM: rate, channel count, sample type, and whether the channels share one
// plane (interleaved) or each have their own.
struct PcmFormat {
    enum class Sample { float32, int16 };

    // The most channels a buffer may carry.
    static constexpr int maxChannels = 8;

    int sampleRate = 0;
    int channels = 0;
    Sample sample = Sample::float32;
    bool interleaved = true;

    bool operator==(const PcmFormat&) const = default;

    // A rate from 1 Hz to 768 kHz and 1 to maxChannels channels.
    bool isValid() const;
    std::size_t bytesPerSample() const { return sample == Sample::float32 ? 4 : 2; }
    // One plane when interleaved, else one per channel.
    int planeCount() const { return interleaved ? 1 : channels; }
    // The bytes one frame takes in each plane.
    std::size_t bytesPerFramePerPlane() const;

    // As the log shows it: "48000 Hz, 2 ch, float32, interleaved".
    std::string description() const;
};

}  // namespace quib
