#include "Platform/Linux/Media/FfmpegAacConverterFactory.hpp"

#include "Platform/Linux/Media/FfmpegAacConverter.hpp"

namespace quib {

std::vector<std::int64_t> FfmpegAacConverterFactory::applicableBitRates(const PcmFormat&) const { return {}; }

std::unique_ptr<AacConverter> FfmpegAacConverterFactory::make(const PcmFormat& source, std::int64_t bitRate) {
    return FfmpegAacConverter::make(source, bitRate);
}

}  // namespace quib
