// Writing one typical video frame (a key frame with two parameter sets and 60 KB of picture),
// in frames per second, beside the floor of copying the same payload into a buffer: the gap is
// the header's JSON, made under the shared coder's lock.
#include <benchmark/benchmark.h>

#include "Shared/ViewFrame.hpp"

namespace {

constexpr std::size_t payloadBytes = 60000;

quib::ViewFrame keyFrame() {
    quib::ViewFrame frame = quib::ViewFrame::make(quib::ViewFrame::Kind::video, "main.cpp — Editor", 81234567890123);
    frame.codec = quib::ViewFrame::Codec::h264;
    frame.isKeyframe = true;
    frame.width = 1280;
    frame.height = 800;
    frame.parameterSets = std::vector<quib::Bytes>{quib::Bytes(24, 0x67), quib::Bytes(4, 0x68)};
    frame.cornerRadius = 0.013125;
    frame.pointer = quib::UnitSpot{0.4375, 0.61};
    return frame;
}

void BM_ViewFrameWriterKeyFrame(benchmark::State& state) {
    const quib::ViewFrame frame = keyFrame();
    const quib::Bytes payload(payloadBytes, 0x5A);
    for (auto _ : state) {
        auto bytes = quib::ViewFrameWriter::encode(frame, payload);
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ViewFrameWriterKeyFrame);

// The floor: the payload copied into a fresh buffer with room for a header.
void BM_CopyPayload(benchmark::State& state) {
    const quib::Bytes payload(payloadBytes, 0x5A);
    for (auto _ : state) {
        quib::Bytes out;
        out.reserve(payload.size() + 512);
        out.insert(out.end(), payload.begin(), payload.end());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CopyPayload);

}  // namespace
