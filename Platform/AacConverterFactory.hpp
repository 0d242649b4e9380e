#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "Platform/AacConverter.hpp"
#include "Platform/PcmFormat.hpp"

namespace quib {

// Makes AAC converters.
class AacConverterFactory {
public:
    virtual ~AacConverterFactory() = default;

    // The bit rates a converter from `source` can be set to; empty when any rate is taken.
    virtual std::vector<std::int64_t> applicableBitRates(const PcmFormat& source) const = 0;
    // A converter from `source` at `bitRate` bits per second; none when there is no AAC encoder
    // or it cannot take that format.
    virtual std::unique_ptr<AacConverter> make(const PcmFormat& source, std::int64_t bitRate) = 0;
};

}  // namespace quib
