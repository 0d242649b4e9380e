#include "Platform/Linux/PixbufIconRenderer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>

#include "Tests/Platform/Linux/TestPictures.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib {
namespace {

namespace fs = std::filesystem;
using testing::alphaAt;
using testing::decodePng;
using testing::ihdrSize;
using testing::writePng;

void writeText(const fs::path& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }

constexpr std::string_view xpm = R"(/* XPM */
static char * dot[] = {
"4 4 2 1",
"  c None",
". c #FF0000",
" .. ",
"....",
"....",
" .. "};
)";

std::uint32_t crc32(std::string_view bytes) {
    std::uint32_t crc = 0xffffffff;
    for (const unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

void appendBigEndian(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(value >> shift & 0xff);
}

void appendChunk(std::string& png, std::string_view type, std::string_view data) {
    appendBigEndian(png, static_cast<std::uint32_t>(data.size()));
    const std::string typed = std::string(type) + std::string(data);
    png += typed;
    appendBigEndian(png, crc32(typed));
}

// A whole, valid PNG of width × height black pixels, one bit each, stored uncompressed: a few
// megabytes that decode to many times that.
void writeVastPng(const fs::path& file, std::uint32_t width, std::uint32_t height) {
    const std::string row = std::string(1 + (width + 7) / 8, '\0');  // filter byte, then the bits
    std::string pixels;
    for (std::uint32_t y = 0; y < height; ++y) pixels += row;
    std::string zlib = "\x78\x01";
    for (std::size_t at = 0; at < pixels.size(); at += 65535) {
        const auto length = static_cast<std::uint16_t>(std::min<std::size_t>(65535, pixels.size() - at));
        zlib += static_cast<char>(at + length == pixels.size() ? 1 : 0);  // stored block, last or not
        for (const std::uint16_t half : {length, static_cast<std::uint16_t>(~length)})
            zlib += std::string{static_cast<char>(half & 0xff), static_cast<char>(half >> 8)};
        zlib.append(pixels, at, length);
    }
    std::uint32_t a = 1, b = 0;
    for (const unsigned char byte : pixels) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    appendBigEndian(zlib, b << 16 | a);
    std::string header;
    appendBigEndian(header, width);
    appendBigEndian(header, height);
    header += std::string("\x01\x03\x00\x00\x00", 5);  // 1 bit a pixel, from a palette
    std::string png = "\x89PNG\r\n\x1a\n";
    appendChunk(png, "IHDR", header);
    appendChunk(png, "PLTE", std::string(3, '\0'));
    appendChunk(png, "IDAT", zlib);
    appendChunk(png, "IEND", "");
    writeText(file, png);
}

// Checks that the bytes are a PNG of 128 × 128 pixels, as its header says and as it decodes.
void expectIconPng(const std::optional<Bytes>& png, const std::string& what) {
    ASSERT_TRUE(png) << what << " was not drawn";
    EXPECT_EQ(ihdrSize(*png), (std::pair<std::uint32_t, std::uint32_t>{128, 128})) << what;
    const auto picture = decodePng(*png);
    ASSERT_TRUE(picture) << what << " does not decode";
    EXPECT_EQ(gdk_pixbuf_get_width(picture.get()), 128) << what;
    EXPECT_EQ(gdk_pixbuf_get_height(picture.get()), 128) << what;
}

TEST(PixbufIconRenderer, DrawsPngSvgAndXpmAs128PixelSquares) {
    testing::ScratchFolder scratch("renderer");
    writePng(scratch.path / "small.png", 48, 48);
    writePng(scratch.path / "large.png", 300, 300, false);
    writeText(scratch.path / "dot.xpm", std::string(xpm));
    writeText(scratch.path / "circle.svg", R"(<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16">)"
                                           R"(<circle cx="8" cy="8" r="7" fill="teal"/></svg>)");
    const PixbufIconRenderer renderer;
    for (const char* name : {"small.png", "large.png", "dot.xpm", "circle.svg"})
        expectIconPng(renderer.render(scratch.path / name), name);
}

TEST(PixbufIconRenderer, CentresAPictureThatIsNotSquareOnATransparentCanvas) {
    testing::ScratchFolder scratch("renderer");
    writePng(scratch.path / "wide.png", 64, 32, false);
    const auto png = PixbufIconRenderer().render(scratch.path / "wide.png");
    expectIconPng(png, "wide.png");
    const auto picture = decodePng(png.value_or(Bytes{}));
    ASSERT_TRUE(picture);
    // 64 × 32 scales to 128 × 64, which leaves 32 rows above and below.
    EXPECT_EQ(alphaAt(picture.get(), 0, 0), 0);
    EXPECT_EQ(alphaAt(picture.get(), 127, 31), 0);
    EXPECT_EQ(alphaAt(picture.get(), 0, 32), 255);
    EXPECT_EQ(alphaAt(picture.get(), 64, 64), 255);
    EXPECT_EQ(alphaAt(picture.get(), 127, 95), 255);
    EXPECT_EQ(alphaAt(picture.get(), 64, 96), 0);
}

// Text in an SVG needs fonts, not a display or a toolkit's application object.
TEST(PixbufIconRenderer, DrawsAnSvgHoldingText) {
    testing::ScratchFolder scratch("renderer");
    writeText(
        scratch.path / "label.svg",
        R"(<svg xmlns="http://www.w3.org/2000/svg" width="48" height="48" viewBox="0 0 48 48">)"
        R"(<rect width="48" height="48" fill="black"/><text x="4" y="30" font-size="20" fill="white">&gt;_</text></svg>)");
    expectIconPng(PixbufIconRenderer().render(scratch.path / "label.svg"), "label.svg");
}

TEST(PixbufIconRenderer, DrawsNothingFromFilesThatDoNotDecode) {
    testing::ScratchFolder scratch("renderer");
    writePng(scratch.path / "whole.png", 48, 48);
    const auto whole = testing::fileContents(scratch.path / "whole.png");
    writeText(scratch.path / "truncated.png", whole.substr(0, whole.size() / 2));
    writeText(scratch.path / "empty.png", "");
    writeText(scratch.path / "text.svg", "not a picture at all");
    writeText(scratch.path / "broken.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\"");
    const PixbufIconRenderer renderer;
    for (const char* name : {"truncated.png", "empty.png", "text.svg", "broken.svg", "missing.png"})
        EXPECT_EQ(renderer.render(scratch.path / name), std::nullopt) << name;
    fs::create_directories(scratch.path / "folder.png");
    EXPECT_EQ(renderer.render(scratch.path / "folder.png"), std::nullopt);
    EXPECT_EQ(renderer.render("/dev/zero"), std::nullopt) << "a device is never read";
}

// gdk-pixbuf decodes a PNG whole before scaling it: a picture larger than any icon is refused
// from its header, while one just within the bound is still drawn.
TEST(PixbufIconRenderer, DrawsNothingOfAPictureTooLargeToDecode) {
    testing::ScratchFolder scratch("renderer");
    writeVastPng(scratch.path / "vast.png", 6000, 6000);
    writeVastPng(scratch.path / "within.png", 4096, 4096);
    const PixbufIconRenderer renderer;
    EXPECT_FALSE(renderer.render(scratch.path / "vast.png")) << "6000 × 6000 was drawn";
    expectIconPng(renderer.render(scratch.path / "within.png"), "within.png");
}

}  // namespace
}  // namespace quib
