#pragma once

#include "Platform/AacConverterFactory.hpp"

namespace quib {

// Makes FfmpegAacConverters. FFmpeg's encoder takes any bit rate, so there is no list of
// applicable ones.
class FfmpegAacConverterFactory final : public AacConverterFactory {
public:
    std::vector<std::int64_t> applicableBitRates(const PcmFormat& source) const override;
    std::unique_ptr<AacConverter> make(const PcmFormat& source, std::int64_t bitRate) override;
};

}  // namespace quib
