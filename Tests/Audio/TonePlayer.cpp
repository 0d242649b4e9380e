#include "Tests/Audio/TonePlayer.hpp"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace quib::testing {

TonePlayer::TonePlayer(std::optional<std::string> sink, std::optional<std::string> server)
    : thread_("test.tone", [this, sink, server] { play(sink, server); }) {}

TonePlayer::~TonePlayer() {
    stopping_ = true;
    thread_.join();
}

void TonePlayer::play(const std::optional<std::string>& sink, const std::optional<std::string>& server) {
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, 48000, 2};
    // A short buffer, so the tone reaches the sink soon after it is written.
    pa_buffer_attr attributes{static_cast<std::uint32_t>(-1), 9600, static_cast<std::uint32_t>(-1),
                              static_cast<std::uint32_t>(-1), static_cast<std::uint32_t>(-1)};
    int error = 0;
    pa_simple* stream = pa_simple_new(server ? server->c_str() : nullptr, "quib-tests", PA_STREAM_PLAYBACK,
                                      sink ? sink->c_str() : nullptr, "tone", &spec, nullptr, &attributes, &error);
    if (stream == nullptr) {
        failure_ = pa_strerror(error);
        return;
    }
    std::vector<float> chunk(480 * 2);  // 10 ms
    for (std::int64_t frame = 0; !stopping_;) {
        for (std::size_t i = 0; i < 480; ++i, ++frame) {
            const auto value = static_cast<float>(
                0.5 * std::sin(2 * std::numbers::pi * frequency * static_cast<double>(frame) / 48000));
            chunk[2 * i] = chunk[2 * i + 1] = value;
        }
        if (pa_simple_write(stream, chunk.data(), chunk.size() * sizeof(float), &error) < 0) {
            failure_ = pa_strerror(error);
            break;
        }
        playing_ = true;
    }
    pa_simple_free(stream);
}

}  // namespace quib::testing
