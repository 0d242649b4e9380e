#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Platform/AacConverterFactory.hpp"

namespace quib::testing {

// Converters that make one packet for each 1024 frames fed, the n-th of them n bytes long
// (counted from 1 over the factory's life) and filled with n. The factory offers the rates it is
// given, refuses the formats it is told to, and can make its converters fail.
class FakeAacConverterFactory final : public AacConverterFactory {
public:
    struct Made {
        PcmFormat format;
        std::int64_t bitRate = 0;
    };

    std::vector<std::int64_t> rates;
    std::vector<PcmFormat> refused;
    // The next conversion fails with this text, once.
    std::optional<std::string> failNext;
    std::vector<Made> made;
    int packetsMade = 0;

    std::vector<std::int64_t> applicableBitRates(const PcmFormat&) const override { return rates; }

    std::unique_ptr<AacConverter> make(const PcmFormat& source, std::int64_t bitRate) override {
        for (const auto& format : refused)
            if (format == source) return nullptr;
        made.push_back({source, bitRate});
        return std::make_unique<Converter>(*this, bitRate);
    }

private:
    class Converter final : public AacConverter {
    public:
        Converter(FakeAacConverterFactory& factory, std::int64_t bitRate) : factory_(factory), bitRate_(bitRate) {}
        std::int64_t bitRate() const override { return bitRate_; }
        std::int64_t maxPacketBytes() const override { return 1536; }
        Result<void> convert(const PcmBuffer& input, std::size_t maxPackets, AacPackets& output) override {
            if (factory_.failNext) {
                const std::string text = *factory_.failNext;
                factory_.failNext.reset();
                return fail(text);
            }
            held_ += input.frames;
            for (std::size_t n = 0; n < maxPackets && held_ >= 1024; ++n) {
                held_ -= 1024;
                const int size = ++factory_.packetsMade;
                output.bytes.insert(output.bytes.end(), static_cast<std::size_t>(size),
                                    static_cast<std::uint8_t>(size));
                output.sizes.push_back(size);
            }
            return {};
        }

    private:
        FakeAacConverterFactory& factory_;
        std::int64_t bitRate_;
        std::int64_t held_ = 0;
    };
};

}  // namespace quib::testing
