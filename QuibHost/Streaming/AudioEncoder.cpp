#include "QuibHost/Streaming/AudioEncoder.hpp"

#include <cstdlib>

#include "Runtime/Logger.hpp"
#include "Shared/AudioChannel.hpp"

namespace quib {

AudioEncoder::AudioEncoder(std::shared_ptr<AacConverterFactory> converters, std::shared_ptr<Settings> settings)
    : converters_(std::move(converters)), settings_(std::move(settings)) {}

std::int64_t AudioEncoder::bitrate(const Settings& settings) { return settings.get(bitrateKey); }

std::int64_t AudioEncoder::nearestApplicableRate(std::span<const std::int64_t> rates, std::int64_t wanted) {
    if (rates.empty()) return wanted;
    std::int64_t nearest = rates.front();
    for (const std::int64_t rate : rates)
        if (std::llabs(rate - wanted) < std::llabs(nearest - wanted)) nearest = rate;
    return nearest;
}

// The setting is read once, so a change takes effect at the next launch (the host keeps one
// encoder for its whole run).
std::int64_t AudioEncoder::settingBitrate() {
    if (!bitrate_) bitrate_ = bitrate(*settings_);
    return *bitrate_;
}

std::optional<AudioEncoder::DescribedFormat> AudioEncoder::describedFormat() const {
    if (!converter_) return std::nullopt;
    return DescribedFormat{AudioChannel::sampleRate, AudioChannel::channels, AudioChannel::framesPerPacket};
}

void AudioEncoder::reset() {
    converter_.reset();
    sourceFormat_.reset();
    scratch_.reset();
}

AacConverter* AudioEncoder::converterFor(const PcmFormat& format) {
    if (converter_ && sourceFormat_ == format) return converter_.get();
    const std::int64_t rate = nearestApplicableRate(converters_->applicableBitRates(format), settingBitrate());
    auto made = converters_->make(format, rate);
    if (!made) {
        // The converter of the previous format stays: describe frames still hold.
        quibLog().error("listen: no AAC encoder for ", pub(format.description()));
        return nullptr;
    }
    converter_ = std::move(made);
    sourceFormat_ = format;
    scratch_.reset();
    quibLog().info("listen: encoder AAC-LC ", converter_->bitRate() / 1000, " kbps from ", format.sampleRate, "Hz ",
                   format.channels, "ch");
    return converter_.get();
}

std::optional<AudioEncoder::Output> AudioEncoder::encode(const PcmBuffer& buffer) {
    if (buffer.frames <= 0) return std::nullopt;
    AacConverter* converter = converterFor(buffer.format);
    if (converter == nullptr) return std::nullopt;
    if (!scratch_) {
        scratch_.emplace();
        scratch_->bytes.reserve(maxPacketsPerEncode * static_cast<std::size_t>(converter->maxPacketBytes()));
        scratch_->sizes.reserve(maxPacketsPerEncode);
    }
    scratch_->clear();

    if (const auto converted = converter->convert(buffer, maxPacketsPerEncode, *scratch_); !converted) {
        quibLog().error("listen: encode failed ",
                        pub(converted.error().message.empty() ? "unknown" : converted.error().message));
        reset();
        return std::nullopt;
    }
    if (scratch_->sizes.empty()) return std::nullopt;
    Output output;
    output.bytes.reserve(scratch_->bytes.size());
    output.bytes.assign(scratch_->bytes.begin(), scratch_->bytes.end());
    output.packetSizes = scratch_->sizes;
    return output;
}

}  // namespace quib
