// Encoding one minute of recorded-like sound (tones under noise, 48 kHz stereo float) to AAC-LC at
// 96 kbit/s: the host's encoder fed 10 ms buffers as the capture delivers them, beside the ffmpeg
// program given the same samples through a pipe. Both report how many times faster than real
// time they run and the CPU milliseconds each second of sound costs; the host's encoder also the
// time of one buffer (median and 99th percentile).
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <numbers>
#include <string_view>
#include <vector>

#include "Platform/Linux/Media/FfmpegAacConverterFactory.hpp"
#include "QuibHost/Streaming/AudioEncoder.hpp"
#include "Runtime/Subprocess.hpp"

namespace {

constexpr int kRate = 48000;
constexpr int kSeconds = 60;
constexpr int kBufferFrames = 480;  // 10 ms

// Three tones whose loudness drifts, over white noise at -30 dB, the same in every run.
const std::vector<float>& minuteOfSound() {
    static const std::vector<float> samples = [] {
        std::vector<float> out(static_cast<std::size_t>(kRate) * kSeconds * 2);
        std::uint32_t noise = 0x12345678;
        for (std::size_t frame = 0; frame < out.size() / 2; ++frame) {
            const double t = static_cast<double>(frame) / kRate;
            const double swell = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * 0.25 * t);
            const double tones = 0.25 * std::sin(2 * std::numbers::pi * 220 * t) +
                                 0.15 * swell * std::sin(2 * std::numbers::pi * 440 * t) +
                                 0.1 * std::sin(2 * std::numbers::pi * 1320 * t);
            for (int channel = 0; channel < 2; ++channel) {
                noise = noise * 1664525u + 1013904223u;
                const double hiss = 0.03 * (static_cast<double>(noise >> 8) / (1 << 24) * 2 - 1);
                out[2 * frame + channel] = static_cast<float>(tones + hiss);
            }
        }
        return out;
    }();
    return samples;
}

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double childrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval& tv) {
        return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void report(benchmark::State& state, double wallSeconds, double cpuSeconds, int runs) {
    state.counters["x_realtime"] = static_cast<double>(kSeconds) * runs / wallSeconds;
    state.counters["cpu_ms_per_audio_s"] = cpuSeconds * 1000 / (static_cast<double>(kSeconds) * runs);
}

void BM_AudioEncoderMinute(benchmark::State& state) {
    const auto& samples = minuteOfSound();
    auto settings = quib::Settings::inMemory();
    std::vector<double> bufferMicros;
    double wall = 0, cpu = 0;
    std::size_t bytes = 0;
    int runs = 0;
    for (auto _ : state) {
        quib::AudioEncoder encoder(std::make_shared<quib::FfmpegAacConverterFactory>(), settings);
        const double cpuStart = threadCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        for (std::size_t frame = 0; frame + kBufferFrames <= samples.size() / 2; frame += kBufferFrames) {
            const auto* plane = reinterpret_cast<const std::uint8_t*>(samples.data() + 2 * frame);
            const quib::PcmBuffer buffer{
                {kRate, 2, quib::PcmFormat::Sample::float32, true}, kBufferFrames, {&plane, 1}};
            const auto before = std::chrono::steady_clock::now();
            const auto output = encoder.encode(buffer);
            bufferMicros.push_back(
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - before).count());
            if (output) bytes += output->bytes.size();
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        wall += seconds;
        cpu += threadCpuSeconds() - cpuStart;
        ++runs;
    }
    report(state, wall, cpu, runs);
    std::sort(bufferMicros.begin(), bufferMicros.end());
    state.counters["buffer_p50_us"] = bufferMicros[bufferMicros.size() / 2];
    state.counters["buffer_p99_us"] = bufferMicros[bufferMicros.size() * 99 / 100];
    state.counters["kbit_per_s"] = static_cast<double>(bytes) * 8 / 1000 / (static_cast<double>(kSeconds) * runs);
}
BENCHMARK(BM_AudioEncoderMinute)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

// The baseline: the ffmpeg program, reading the samples from a pipe and writing ADTS to another.
void BM_FfmpegProgramMinute(benchmark::State& state) {
    const auto ffmpeg = quib::Subprocess::onPath("ffmpeg", quib::Subprocess::searchPath());
    if (!ffmpeg) {
        state.SkipWithError("the ffmpeg program is not installed");
        return;
    }
    const auto& samples = minuteOfSound();
    const std::string_view input(reinterpret_cast<const char*>(samples.data()), samples.size() * sizeof(float));
    const std::vector<std::string> arguments{"-hide_banner", "-loglevel", "error", "-f", "f32le",  "-ar",
                                             "48000",        "-ac",       "2",     "-i", "pipe:0", "-c:a",
                                             "aac",          "-b:a",      "96k",   "-f", "adts",   "pipe:1"};
    double wall = 0, cpu = 0;
    std::size_t bytes = 0;
    int runs = 0;
    for (auto _ : state) {
        const double cpuStart = childrenCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        const auto result = quib::Subprocess::runBytes(*ffmpeg, arguments, input, std::chrono::seconds(120));
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!result.ok) {
            state.SkipWithError("ffmpeg failed");
            return;
        }
        state.SetIterationTime(seconds);
        bytes += result.output.size();
        wall += seconds;
        cpu += childrenCpuSeconds() - cpuStart;
        ++runs;
    }
    report(state, wall, cpu, runs);
    state.counters["kbit_per_s"] = static_cast<double>(bytes) * 8 / 1000 / (static_cast<double>(kSeconds) * runs);
}
BENCHMARK(BM_FfmpegProgramMinute)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

}  // namespace
