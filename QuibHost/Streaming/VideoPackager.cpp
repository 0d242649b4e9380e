#include "QuibHost/Streaming/VideoPackager.hpp"

#include <limits>
#include <vector>

namespace quib {
namespace {

using Unit = std::span<const std::uint8_t>;

enum class Role { parameterSet, delimiter, payload };

int unitType(ViewFrame::Codec codec, Unit unit) {
    return codec == ViewFrame::Codec::hevc ? (unit[0] >> 1) & 0x3F : unit[0] & 0x1F;
}

Role roleOf(ViewFrame::Codec codec, int type) {
    if (codec == ViewFrame::Codec::hevc) {
        if (type >= 32 && type <= 34) return Role::parameterSet;  // video, sequence, picture
        return type == 35 ? Role::delimiter : Role::payload;
    }
    if (type == 7 || type == 8) return Role::parameterSet;  // sequence, picture
    return type == 9 ? Role::delimiter : Role::payload;
}

// Where the next start code (00 00 01) at or after `from` begins; the size when there is none.
std::size_t nextStartCode(std::span<const std::uint8_t> bytes, std::size_t from) {
    for (std::size_t i = from; i + 2 < bytes.size(); ++i) {
        if (bytes[i + 2] > 1) {
            i += 2;  // no start code can begin at i, i + 1 or i + 2
        } else if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) {
            return i;
        }
    }
    return bytes.size();
}

// The units between start codes, without the zero bytes that precede each code (the first of
// a 4-byte code, or trailing zeros). None when anything but zeros precedes the first code.
std::optional<std::vector<Unit>> split(std::span<const std::uint8_t> bytes) {
    std::size_t code = nextStartCode(bytes, 0);
    for (std::size_t i = 0; i < code; ++i)
        if (bytes[i] != 0) return std::nullopt;
    std::vector<Unit> units;
    while (code < bytes.size()) {
        const std::size_t begin = code + 3;
        code = nextStartCode(bytes, begin);
        std::size_t end = code;
        while (end > begin && bytes[end - 1] == 0) --end;
        if (end > begin) units.push_back(bytes.subspan(begin, end - begin));
    }
    return units;
}

void appendWithLength(Bytes& data, Unit unit) {
    const auto n = static_cast<std::uint32_t>(unit.size());
    data.push_back(static_cast<std::uint8_t>(n >> 24));
    data.push_back(static_cast<std::uint8_t>(n >> 16));
    data.push_back(static_cast<std::uint8_t>(n >> 8));
    data.push_back(static_cast<std::uint8_t>(n));
    data.insert(data.end(), unit.begin(), unit.end());
}

}  // namespace

std::optional<VideoEncoder::Output> VideoPackager::package(std::span<const std::uint8_t> annexB, bool isKeyframe) {
    const auto units = split(annexB);
    if (!units) return std::nullopt;
    VideoEncoder::Output output{.data = {}, .isKeyframe = isKeyframe, .parameterSets = {}, .codec = codec_};
    output.data.reserve(annexB.size());
    std::vector<Bytes> carried;
    for (const Unit unit : *units) {
        if (unit.size() > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
        const int type = unitType(codec_, unit);
        switch (roleOf(codec_, type)) {
            case Role::parameterSet:
                carried.emplace_back(unit.begin(), unit.end());
                latestParameterSets_[type] = carried.back();
                break;
            case Role::delimiter: break;
            case Role::payload: appendWithLength(output.data, unit); break;
        }
    }
    if (output.data.empty()) return std::nullopt;
    if (!isKeyframe) return output;
    if (carried.empty()) {
        for (const auto& [type, set] : latestParameterSets_) carried.push_back(set);
    }
    output.parameterSets = std::move(carried);
    return output;
}

}  // namespace quib
