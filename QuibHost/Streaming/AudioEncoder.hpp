#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "Platform/AacConverterFactory.hpp"
#include "Platform/PcmBuffer.hpp"
#include "Runtime/Bytes.hpp"
#include "Runtime/Settings.hpp"
#include "Runtime/SettingsTable.hpp"

namespace quib {

// Turns captured PCM into the listen channel's AAC-LC: 48000 Hz, two channels, 1024 frames a
// packet. It makes a converter for each source format it meets (again whenever the format
// changes), at a bit rate read from the settings once, and says what format describe frames
// carry.
//
// Not safe for concurrent use: its one owner calls it under a lock of its own.
class AudioEncoder {
public:
    static constexpr auto bitrateKey = setting<"quib.listenBitrate">;
    static constexpr std::int64_t defaultBitrate = bitrateKey.rule().fallback;
    static constexpr std::int64_t minimumBitrate = bitrateKey.rule().lowest;
    static constexpr std::int64_t maximumBitrate = bitrateKey.rule().highest;
    // Packets one encode hands out at most; the rest come with the next buffers.
    static constexpr std::size_t maxPacketsPerEncode = 4;

    // The packets complete after one buffer: their bytes back to back, and each one's size.
    struct Output {
        Bytes bytes;
        std::vector<std::int64_t> packetSizes;
    };

    struct DescribedFormat {
        std::int64_t sampleRate = 0;
        std::int64_t channels = 0;
        std::int64_t framesPerPacket = 0;
        bool operator==(const DescribedFormat&) const = default;
    };

    AudioEncoder(std::shared_ptr<AacConverterFactory> converters, std::shared_ptr<Settings> settings);

    // Feeds one buffer (used during the call only); gives the packets complete after it, or none.
    std::optional<Output> encode(const PcmBuffer& buffer);
    // None until a converter exists.
    std::optional<DescribedFormat> describedFormat() const;
    // Drops the converter, its format and the scratch, and the sound the converter held: the
    // next buffer starts afresh.
    void reset();

    // The bit rate setting: minimumBitrate...maximumBitrate, else (and when absent) defaultBitrate.
    static std::int64_t bitrate(const Settings& settings);
    // The rate of `rates` nearest to `wanted` (the first of two equally near); `wanted` itself
    // when the list is empty.
    static std::int64_t nearestApplicableRate(std::span<const std::int64_t> rates, std::int64_t wanted);

private:
    AacConverter* converterFor(const PcmFormat& format);
    std::int64_t settingBitrate();

    std::shared_ptr<AacConverterFactory> converters_;
    std::shared_ptr<Settings> settings_;
    std::optional<std::int64_t> bitrate_;  // read the first time a converter needs it, then kept
    std::unique_ptr<AacConverter> converter_;
    std::optional<PcmFormat> sourceFormat_;
    std::optional<AacPackets> scratch_;
};

}  // namespace quib
