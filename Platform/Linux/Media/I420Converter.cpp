#include "Platform/Linux/Media/I420Converter.hpp"

#include <algorithm>
#include <cstddef>

namespace quib {
namespace {

// Full-range BT.709 in 16-bit fixed point: each row's weights sum to 65536 (luma) or 0 (chroma).
constexpr int lumaR = 13933, lumaG = 46871, lumaB = 4732;
constexpr int blueR = -7509, blueG = -25259, blueB = 32768;
constexpr int redR = 32768, redG = -29763, redB = -3005;

// Four pixels' sums of B, G and R weighed by one chroma row, with the offset of 128 and
// rounding, in the 18 bits left of the sums.
constexpr int chromaOffset = (128 << 18) + (1 << 17);

// The row loops are compiled twice where the compiler vectorises them (see Dependencies.cmake):
// for AVX2, which halves their time, and for the x86-64 baseline; the loader picks one.
#if defined(__x86_64__) && defined(__OPTIMIZE__) && !defined(__clang__)
#define QUIB_ROW_LOOP __attribute__((target_clones("avx2", "default")))
#else
#define QUIB_ROW_LOOP
#endif

std::uint8_t clamped(int value) { return static_cast<std::uint8_t>(std::clamp(value, 0, 255)); }

// Both chroma samples of four pixels, from their sums of blue, green and red.
inline void chroma(int blue, int green, int red, std::uint8_t& cb, std::uint8_t& cr) {
    cb = clamped((blueB * blue + blueG * green + blueR * red + chromaOffset) >> 18);
    cr = clamped((redB * blue + redG * green + redR * red + chromaOffset) >> 18);
}

QUIB_ROW_LOOP void lumaRow(const std::uint8_t* __restrict in, std::uint8_t* __restrict out, int width) {
    for (int x = 0; x < width; ++x) {
        const std::uint8_t* pixel = in + 4 * x;
        out[x] = static_cast<std::uint8_t>((lumaB * pixel[0] + lumaG * pixel[1] + lumaR * pixel[2] + 32768) >> 16);
    }
}

// One row of both chroma planes from the two pixel rows `upper` and `lower`, `pairs` samples
// of two pixels each.
QUIB_ROW_LOOP void chromaRow(const std::uint8_t* __restrict upper, const std::uint8_t* __restrict lower,
                             std::uint8_t* __restrict cb, std::uint8_t* __restrict cr, int pairs) {
    for (int x = 0; x < pairs; ++x) {
        const std::uint8_t* a = upper + 8 * x;
        const std::uint8_t* b = lower + 8 * x;
        chroma(a[0] + a[4] + b[0] + b[4], a[1] + a[5] + b[1] + b[5], a[2] + a[6] + b[2] + b[6], cb[x], cr[x]);
    }
}

// The last sample of a row of odd width: its one column counted twice.
void lastChroma(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t& cb, std::uint8_t& cr) {
    chroma(2 * (a[0] + b[0]), 2 * (a[1] + b[1]), 2 * (a[2] + b[2]), cb, cr);
}

}  // namespace

I420Converter::I420Converter(int threads) : workers_("com.brenmoor.quib.host.capture.convert", threads) {}

bool I420Converter::convert(const std::uint8_t* pixels, int width, int height, int stride, PixelBuffer& picture) {
    if (!pixels || width != picture.width() || height != picture.height() || width <= 0 || height <= 0 ||
        stride < width * 4)
        return false;
    const Source source{pixels, width, height, stride};
    const int pairs = (height + 1) / 2;
    workers_.run([&](int slice, int slices) {
        convertRows(source, picture, pairs * slice / slices, pairs * (slice + 1) / slices);
    });
    return true;
}

void I420Converter::convertRows(const Source& source, PixelBuffer& picture, int fromPair, int toPair) {
    const auto rowAt = [&](int y) { return source.pixels + static_cast<std::ptrdiff_t>(y) * source.stride; };
    for (int pair = fromPair; pair < toPair; ++pair) {
        const int top = 2 * pair, bottom = std::min(top + 1, source.height - 1);
        lumaRow(rowAt(top), picture.row(0, top), source.width);
        if (bottom != top) lumaRow(rowAt(bottom), picture.row(0, bottom), source.width);
        std::uint8_t* cb = picture.row(1, pair);
        std::uint8_t* cr = picture.row(2, pair);
        chromaRow(rowAt(top), rowAt(bottom), cb, cr, source.width / 2);
        if (source.width % 2)
            lastChroma(rowAt(top) + 4 * (source.width - 1), rowAt(bottom) + 4 * (source.width - 1),
                       cb[source.width / 2], cr[source.width / 2]);
    }
}

}  // namespace quib
