#include "Shared/AudioFrame.hpp"

#include "Shared/UptimeClock.hpp"

namespace quib {

AudioFrame AudioFrame::make(Kind kind, std::uint64_t captureTime) {
    AudioFrame frame;
    frame.kind = kind;
    frame.captureTime = captureTime;
    return frame;
}

AudioFrame AudioFrame::state(std::string reason, MonoTime now) {
    AudioFrame frame = make(Kind::state, UptimeClock::nanos(now));
    frame.reason = std::move(reason);
    return frame;
}

std::optional<std::vector<AudioFrame::Range>> AudioFrame::packetRanges(std::span<const std::uint8_t> payload) const {
    if (!packets || packets->empty()) return std::nullopt;
    std::vector<Range> ranges;
    ranges.reserve(packets->size());
    std::size_t offset = 0;
    for (const std::int64_t size : *packets) {
        if (size < 1 || static_cast<std::uint64_t>(size) > payload.size() - offset) return std::nullopt;
        ranges.push_back(Range{offset, offset + static_cast<std::size_t>(size)});
        offset = ranges.back().end;
    }
    if (offset != payload.size()) return std::nullopt;
    return ranges;
}

AudioFrame AudioFrame::fromJson(const Json& json) {
    const JsonReader r(json);
    AudioFrame frame = make(r.required<Kind>("kind"), r.required<std::uint64_t>("captureTime"));
    frame.codec = r.optional<Codec>("codec");
    frame.sampleRate = r.optional<std::int64_t>("sampleRate");
    frame.channels = r.optional<std::int64_t>("channels");
    frame.framesPerPacket = r.optional<std::int64_t>("framesPerPacket");
    frame.packets = r.optional<std::vector<std::int64_t>>("packets");
    frame.sequence = r.optional<std::uint32_t>("sequence");
    frame.reason = r.optional<std::string>("reason");
    return frame;
}

Json AudioFrame::toJson() const {
    return JsonWriter()
        .put("kind", kind)
        .put("captureTime", captureTime)
        .put("codec", codec)
        .put("sampleRate", sampleRate)
        .put("channels", channels)
        .put("framesPerPacket", framesPerPacket)
        .put("packets", packets)
        .put("sequence", sequence)
        .put("reason", reason)
        .take();
}

}  // namespace quib
