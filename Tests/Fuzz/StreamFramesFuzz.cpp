// Feeds the input to a view frame reader and an audio frame reader, with a cap and read sizes
// chosen by its first bytes. Whatever comes out must hold together: headers that encode read
// back the same, crops and pointer spots stay on the window, packet ranges tile the payload, and
// the buffer never holds more than one unfinished frame.
#include <cmath>
#include <string>
#include <vector>

#include "FuzzSupport.hpp"
#include "Shared/AudioFrameReader.hpp"
#include "Shared/ViewFrame.hpp"

namespace {

using namespace quib;

template <class Header>
void requireSameOnceMore(const Header& header) {
    auto text = QuibCoder::encode(header);
    if (!text) return;  // a number that is not finite cannot be written
    auto again = QuibCoder::decode<Header>(*text);
    fuzz::require(again.ok() && *again == header);
}

void checkView(const ViewFrame& frame) {
    requireSameOnceMore(frame);
    const Rect crop = frame.cropRect();
    fuzz::require(crop.width >= UnitRect::minimumSide && crop.width <= 1 && crop.height >= UnitRect::minimumSide &&
                  crop.height <= 1);
    fuzz::require(crop.x >= 0 && crop.x <= 1 - crop.width && crop.y >= 0 && crop.y <= 1 - crop.height);
    if (frame.pointer) {
        const Point spot = frame.pointer->point();
        fuzz::require(spot.x >= 0 && spot.x <= 1 && spot.y >= 0 && spot.y <= 1);
    }
}

void checkAudio(const AudioFrame& frame, const Bytes& payload) {
    requireSameOnceMore(frame);
    const auto ranges = frame.packetRanges(payload);
    if (!ranges) return;
    std::size_t at = 0;
    for (const auto& range : *ranges) {
        fuzz::require(range.begin == at && range.end > range.begin);
        at = range.end;
    }
    fuzz::require(at == payload.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::int64_t cap = 1 + data[0] * 16;
    const std::size_t step = 1 + data[1] % 61;
    const std::string_view stream = fuzz::text(data + 2, size - 2);

    ViewFrameReader view(cap);
    for (std::size_t at = 0; at < stream.size(); at += step) {
        for (const auto& frame : view.append(stream.substr(at, step))) {
            fuzz::require(std::ssize(frame.payload) <= cap);
            checkView(frame.header);
        }
        fuzz::require(view.bufferedBytes() < static_cast<std::size_t>(2 * cap + 8));
    }
    view.takeDesync();

    AudioFrameReader audio(cap);
    for (std::size_t at = 0; at < stream.size(); at += step) {
        for (const auto& frame : audio.append(stream.substr(at, step))) checkAudio(frame.header, frame.payload);
    }
    return 0;
}
