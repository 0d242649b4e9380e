// Framing and decoding of typical control lines, in lines per second.
#include <benchmark/benchmark.h>

#include "Shared/LineFramer.hpp"
#include "Shared/QuibCoder.hpp"
#include "Shared/QuibTarget.hpp"

namespace {

std::string typicalStream(int lines) {
    std::string stream;
    for (int i = 0; i < lines; ++i) {
        if (i % 10 == 9) stream += R"({"text":{"_0":{"text":"git status","targetID":"6F1E","submit":true}}})";
        else stream += R"({"move":{"dx":3.5,"dy":-1.25}})";
        stream += '\n';
    }
    return stream;
}

void BM_LineFramerAppend(benchmark::State& state) {
    const std::string stream = typicalStream(1000);
    std::int64_t lines = 0;
    for (auto _ : state) {
        quib::LineFramer framer(1 << 20);
        // Receives arrive in pieces of up to 64 KiB; 1,400 bytes is a typical TLS record's worth.
        for (std::size_t at = 0; at < stream.size(); at += 1400) {
            auto out = framer.append(std::string_view(stream).substr(at, 1400));
            lines += static_cast<std::int64_t>(out.size());
        }
    }
    state.counters["lines/s"] = benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LineFramerAppend);

// A peer that sends a 1 MiB line one byte per TLS record: each byte must cost the same.
void BM_LineFramerOneByteReads(benchmark::State& state) {
    const std::string line(1 << 20, 'x');
    for (auto _ : state) {
        quib::LineFramer framer(1 << 20);
        for (char c : line) benchmark::DoNotOptimize(framer.append(std::string_view(&c, 1)));
        benchmark::DoNotOptimize(framer.append("\n"));
    }
    state.counters["bytes/s"] =
        benchmark::Counter(static_cast<double>(line.size()), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LineFramerOneByteReads)->Unit(benchmark::kMillisecond);

void BM_DecodeTargetLine(benchmark::State& state) {
    const std::string line =
        R"({"id":"6F1E5A3C-0B7D-4E2A-9C1F-2D3E4F5A6B7C","name":"Editor","kind":"app","bundleID":"com.example.editor","submitOnSend":true,"allowAutoSubmit":true,"symbol":"chevron.left.forwardslash.chevron.right","isProvisional":false})"
        "\n";
    for (auto _ : state) {
        auto target = quib::QuibCoder::decode<quib::QuibTarget>(line);
        benchmark::DoNotOptimize(target);
    }
    state.counters["lines/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeTargetLine);

}  // namespace
