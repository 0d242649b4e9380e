#include "QuibHost/Streaming/VideoPackager.hpp"

#include <vector>

#include <gtest/gtest.h>

namespace quib {
namespace {

using Codec = ViewFrame::Codec;

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes lengthOf(std::size_t n) {
    return {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8),
            static_cast<std::uint8_t>(n)};
}

TEST(VideoPackager, SplitsOnBothStartCodesAndWritesUnitsAfterTheirLengths) {
    const Bytes four{0, 0, 0, 1};
    const Bytes three{0, 0, 1};
    const Bytes sps{0x67, 0x64, 0x00, 0x1F, 0xAC};
    const Bytes pps{0x68, 0xEB, 0xE3, 0xCB};
    const Bytes aud{0x09, 0xF0};
    const Bytes sei{0x06, 0x05, 0x10, 0x80};
    // A slice of 300 bytes: its length is written 00 00 01 2C, a start code inside the payload.
    Bytes idr(300, 0x5A);
    idr[0] = 0x65;
    const Bytes slice{0x41, 0x9A, 0x00, 0x03, 0x01};
    const Bytes stream = concat(
        {Bytes{0, 0}, four, aud, four, sps, four, pps, three, sei, Bytes{0, 0}, three, idr, four, slice, Bytes{0}});

    VideoPackager packager(Codec::h264);
    const auto output = packager.package(stream, true);
    ASSERT_TRUE(output.has_value());
    EXPECT_TRUE(output->isKeyframe);
    EXPECT_EQ(output->codec, Codec::h264);
    EXPECT_EQ(output->parameterSets, (std::vector<Bytes>{sps, pps}));
    EXPECT_EQ(output->data, concat({lengthOf(sei.size()), sei, lengthOf(300), idr, lengthOf(slice.size()), slice}));

    // Parameter sets are left out of pictures that are not key frames.
    const auto next = packager.package(concat({four, sps, four, pps, three, slice}), false);
    ASSERT_TRUE(next.has_value());
    EXPECT_FALSE(next->isKeyframe);
    EXPECT_TRUE(next->parameterSets.empty());
    EXPECT_EQ(next->data, concat({lengthOf(slice.size()), slice}));
}

TEST(VideoPackager, RefusesStreamsWithNothingToCarry) {
    VideoPackager packager(Codec::h264);
    EXPECT_FALSE(packager.package({}, true));
    EXPECT_FALSE(packager.package(Bytes{0, 0, 0, 0}, true));                          // zeros, no unit
    EXPECT_FALSE(packager.package(Bytes{0x65, 0x88, 0x84}, true));                    // no start code
    EXPECT_FALSE(packager.package(Bytes{0x01, 0, 0, 1, 0x65, 0x88}, true));           // bytes before the first
    EXPECT_FALSE(packager.package(Bytes{0, 0, 1, 0x67, 0x64, 0, 0, 1, 0x09}, true));  // only a set and a delimiter
    EXPECT_FALSE(packager.package(Bytes{0, 0, 1, 0, 0, 1}, false));                   // empty units
}

}  // namespace
}  // namespace quib
