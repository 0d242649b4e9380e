#include "Platform/Linux/PixbufIconRenderer.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "QuibHost/App/ScratchFolder.hpp"
#include "Tests/Platform/Linux/TestPictures.hpp"

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
    writeText(scratch.path / "label.svg",
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

}  // namespace
}  // namespace quib
