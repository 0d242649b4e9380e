// The whole audio path on the environment's sound server (PULSE_SERVER; scripts/test starts one
// whose default output is a null sink), both sides recording the default sink's monitor.
//
// ToneOnset: bursts of loud noise, each after 0.8 s of silence, played into the default sink.
// The host's path (the PulseAudio monitor, SystemAudio, AudioEncoder, AudioStreamer, a loopback
// TLS listen channel of the connection server, a phone draining it) runs beside the baseline
// `parec -d MONITOR ... | ffmpeg ... -c:a aac -b:a 96k -f adts pipe:1`, both started 3 s before
// the first burst. A burst's onset is when its first sample reaches the sink (the write's return
// plus the latency the server reports for it); its latency is the time until the first AAC
// packet far larger than the silent ones arrives. Reported: p50, p95 and p99 of both, and the
// CPU each spends per second (the host's: this process less the player's and the readers'
// threads; the baseline's: parec and ffmpeg).
//
// ThrottledListener: the host's path alone, at 96 kbit/s, to a phone that reads a third of that
// (4000 bytes a second) through a receive buffer kept small, with and without the unsent
// low-water mark on its channel. Reported: how long the audio it got had waited since capture
// (p50, p95, max) and the frames dropped on the way.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <pulse/simple.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include <asio/io_context.hpp>
#include <asio/write.hpp>

#include "Benchmarks/Support/NullSink.hpp"
#include "Platform/Linux/Media/FfmpegAacConverterFactory.hpp"
#include "Platform/Linux/Media/PulseAudioCapture.hpp"
#include "QuibHost/Connection/TlsListenConnection.hpp"
#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Streaming/AudioStreamer.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/MainLoop.hpp"
#include "Runtime/Subprocess.hpp"
#include "Shared/AudioFrameReader.hpp"
#include "Shared/UptimeClock.hpp"
#include "Tests/Support/FreePort.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/SettablePermissions.hpp"
#include "Tests/Support/TestHost.hpp"

extern char** environ;

using namespace quib;
using namespace std::chrono_literals;

namespace {

using quib::bench::NullSink;

constexpr const char* kCode = "ABCDEF";
constexpr auto kWarmUp = 3s;

std::uint64_t nowNanos() { return UptimeClock::nanos(*SystemClock::shared()); }

double cpuSeconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}
double threadCpu(std::thread& thread) {
    clockid_t clock{};
    return pthread_getcpuclockid(thread.native_handle(), &clock) == 0 ? cpuSeconds(clock) : 0;
}
// User and system time from a /proc stat file.
double statCpu(const std::string& path) {
    std::ifstream stat(path);
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    if (text.rfind(')') == std::string::npos) return 0;
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int n = 3; fields >> field && n <= 15; ++n)
        if (n >= 14) ticks += std::stod(field);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}
double processCpu(pid_t pid) { return statCpu("/proc/" + std::to_string(pid) + "/stat"); }

// This process's threads, by their kernel identifiers.
std::set<std::string> tasks() {
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        found.insert(entry.path().filename());
    return found;
}
double tasksCpu(const std::set<std::string>& ids) {
    double total = 0;
    for (const auto& id : ids) total += statCpu("/proc/self/task/" + id + "/stat");
    return total;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p / 100 * static_cast<double>(values.size())))];
}

// Plays 10 ms chunks into the default sink: silence, and once bursts are on, a second's cycle of
// 0.8 s silence and 0.2 s noise, noting each burst's onset; or noise throughout.
class BurstPlayer {
public:
    // Returns once the stream is open (or could not be).
    explicit BurstPlayer(bool noiseThroughout = false)
        : noiseThroughout_(noiseThroughout), thread_([this] { play(); }) {
        opened_.get_future().wait();
    }
    ~BurstPlayer() {
        stopping_ = true;
        thread_.join();
    }
    void beginBursts() { bursts_ = true; }
    std::vector<std::uint64_t> onsets() {
        std::lock_guard lock(mutex_);
        return onsets_;
    }
    std::string failure() {
        std::lock_guard lock(mutex_);
        return failure_;
    }

private:
    void play() {
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, 48000, 2};
        pa_buffer_attr attributes{static_cast<std::uint32_t>(-1), 9600, static_cast<std::uint32_t>(-1),
                                  static_cast<std::uint32_t>(-1), static_cast<std::uint32_t>(-1)};
        int error = 0;
        pa_simple* stream = pa_simple_new(nullptr, "quib-bench", PA_STREAM_PLAYBACK, nullptr, "bursts", &spec, nullptr,
                                          &attributes, &error);
        if (stream == nullptr) {
            std::lock_guard lock(mutex_);
            failure_ = "cannot play into the sound server";
            opened_.set_value();
            return;
        }
        opened_.set_value();
        std::vector<float> chunk(960);
        std::uint32_t noise = 0x2468ace1;
        for (int index = 0; !stopping_; ++index) {
            const bool loud = noiseThroughout_ || (bursts_ && index % 100 >= 80);
            for (float& sample : chunk) {
                noise = noise * 1664525u + 1013904223u;
                sample = loud ? 0.7f * (static_cast<float>(noise >> 8) / (1 << 23) - 1.0f) : 0.0f;
            }
            if (pa_simple_write(stream, chunk.data(), chunk.size() * sizeof(float), &error) < 0) break;
            if (loud && !noiseThroughout_ && index % 100 == 80) {
                const pa_usec_t latency = pa_simple_get_latency(stream, &error);
                std::lock_guard lock(mutex_);
                onsets_.push_back(nowNanos() + latency * 1000);
            }
        }
        pa_simple_free(stream);
    }

    const bool noiseThroughout_;
    std::promise<void> opened_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> bursts_{false};
    std::mutex mutex_;
    std::vector<std::uint64_t> onsets_;
    std::string failure_;
    std::thread thread_;
};

// One packet as a reader saw it.
struct Arrival {
    std::uint64_t at = 0;  // when it was read
    std::int64_t bytes = 0;
};

// The onset latencies, in ms: for each onset, the first packet after it far larger than the
// largest of the silence just before.
std::vector<double> onsetLatencies(const std::vector<std::uint64_t>& onsets, const std::vector<Arrival>& arrivals) {
    std::vector<double> latencies;
    for (const std::uint64_t onset : onsets) {
        std::int64_t silent = 0;
        for (const auto& arrival : arrivals)
            if (arrival.at + 700'000'000 > onset && arrival.at < onset) silent = std::max(silent, arrival.bytes);
        const std::int64_t loud = std::max<std::int64_t>(4 * silent, 64);
        const auto first = std::find_if(arrivals.begin(), arrivals.end(),
                                        [&](const Arrival& a) { return a.at > onset && a.bytes > loud; });
        if (first != arrivals.end() && first->at - onset < 900'000'000)
            latencies.push_back(static_cast<double>(first->at - onset) / 1e6);
    }
    return latencies;
}

// Leaves the kernel's own unsent-bytes limit alone.
class UnmarkedConnection final : public ListenConnection {
public:
    explicit UnmarkedConnection(std::shared_ptr<TlsConnection> connection) : inner_(std::move(connection)) {}
    const void* identity() const override { return inner_.identity(); }
    void send(std::shared_ptr<const Bytes> frame, SendCompletion completed) override {
        inner_.send(std::move(frame), std::move(completed));
    }
    Result<void> setNotSentLowWater(std::size_t) override { return {}; }

private:
    TlsListenConnection inner_;
};
class UnmarkedListeners final : public AudioStreamerService {
public:
    explicit UnmarkedListeners(std::shared_ptr<AudioStreamer> streamer) : streamer_(std::move(streamer)) {}
    void attachListener(const std::shared_ptr<TlsConnection>& connection, const ListenHelloPayload& hello) override {
        streamer_->attach(std::make_shared<UnmarkedConnection>(connection), hello);
    }
    void detachListener(const TlsConnection& connection) override { streamer_->detach(&connection); }

private:
    std::shared_ptr<AudioStreamer> streamer_;
};

// The host's side: the connection server with the real streamer, the phone B-1 approved.
struct AudioHost {
    explicit AudioHost(bool lowWaterMark) {
        Logger::setSink(std::make_shared<NullSink>());
        (void)settings->setInteger(ServerSettings::portKey, quib::testing::freePort());
        auto clock = SystemClock::shared();
        registry = DeviceRegistry::create(main, settings, clock);
        (void)registry->approve("B-1", "Bench");
        main->runPending();  // this thread stands in for the main loop
        streamer = AudioStreamer::make({.capture = std::make_shared<PulseAudioCapture>(),
                                        .converters = std::make_shared<FfmpegAacConverterFactory>(),
                                        .settings = settings,
                                        .clock = clock});
        auto config =
            quib::testing::TestHost{.main = main,
                                    .settings = settings,
                                    .clock = clock,
                                    .registry = registry,
                                    .permissions = std::make_shared<SettablePermissions>(),
                                    .dataHome = scratch.path}
                .serverConfig({.audioStreamer = lowWaterMark ? std::shared_ptr<AudioStreamerService>(streamer)
                                                             : std::make_shared<UnmarkedListeners>(streamer)});
        config.listenAddress = "127.0.0.1";
        server = HostServer::create(std::move(config));
        server->start(kCode);
        port = server->inspect().listenerPort.value_or(0);
    }
    ~AudioHost() {
        server->stop();
        main->runPending();
    }

    quib::testing::ScratchFolder scratch{"quib-audio-bench"};
    std::shared_ptr<MainLoop> main = std::make_shared<MainLoop>();
    std::shared_ptr<Settings> settings = Settings::inMemory();
    std::shared_ptr<DeviceRegistry> registry;
    std::shared_ptr<AudioStreamer> streamer;
    std::shared_ptr<HostServer> server;
    std::uint16_t port = 0;
};

// A phone on a listen channel, reading on a thread of its own, at most `bytesPerSecond` when
// that is above 0 (then through a receive buffer of `receiveBuffer` bytes).
class Phone {
public:
    Phone(std::uint16_t port, std::size_t bytesPerSecond, int receiveBuffer = 0)
        : context_(
              *QuibTransport::clientContext(QuibTransport::parameters(kCode, QuibTransport::Derivation::current()))),
          stream_(io_, *context_),
          rate_(bytesPerSecond) {
        auto& socket = stream_.lowest_layer();
        socket.open(asio::ip::tcp::v4());
        if (receiveBuffer > 0)
            ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        socket.connect({asio::ip::make_address("127.0.0.1"), port});
        socklen_t length = sizeof receiveBuffer_;
        ::getsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer_, &length);
        (void)QuibTransport::applyTcpOptions(socket);
        stream_.handshake(asio::ssl::stream_base::client);
        asio::write(stream_,
                    asio::buffer(std::string(
                        R"({"listenHello":{"_0":{"protocolVersion":23,"deviceName":"Bench","deviceID":"B-1"}}})"
                        "\n")));
        thread_ = std::thread([this] { read(); });
    }
    // Ends once the host has closed the channel.
    ~Phone() { thread_.join(); }

    std::thread& thread() { return thread_; }
    // What the kernel made of the receive buffer asked for.
    int receiveBuffer() const { return receiveBuffer_; }
    std::vector<Arrival> packets() {
        std::lock_guard lock(mutex_);
        return packets_;
    }
    // How long each frame's audio had waited since capture, in ms, and the frames missing in
    // between.
    std::pair<std::vector<double>, std::int64_t> waits(std::uint64_t since) {
        std::lock_guard lock(mutex_);
        std::vector<double> waited;
        std::int64_t missing = 0;
        std::optional<std::uint32_t> last;
        for (const auto& [at, header] : frames_) {
            if (header.kind != AudioFrame::Kind::audio || at < since) continue;
            waited.push_back(static_cast<double>(at - header.captureTime) / 1e6);
            if (last && header.sequence) missing += *header.sequence - *last - 1;
            last = header.sequence;
        }
        return {waited, missing};
    }

private:
    void read() {
        AudioFrameReader reader(AudioChannel::maxFrameBytes);
        std::vector<char> buffer(65536);
        const std::uint64_t began = nowNanos();
        std::uint64_t taken = 0;
        for (;;) {
            std::size_t wanted = buffer.size();
            if (rate_ > 0) {
                const auto allowed = static_cast<std::uint64_t>(static_cast<double>(nowNanos() - began) / 1e9 *
                                                                static_cast<double>(rate_));
                if (allowed <= taken) {
                    std::this_thread::sleep_for(5ms);
                    continue;
                }
                wanted = std::min<std::size_t>(buffer.size(), allowed - taken);
            }
            std::error_code error;
            const std::size_t count = stream_.read_some(asio::buffer(buffer.data(), wanted), error);
            if (error) return;
            taken += count;
            const std::uint64_t at = nowNanos();
            std::lock_guard lock(mutex_);
            for (const auto& frame : reader.append(std::string_view(buffer.data(), count))) {
                frames_.emplace_back(at, frame.header);
                for (const std::int64_t size : frame.header.packets.value_or(std::vector<std::int64_t>{}))
                    packets_.push_back({at, size});
            }
        }
    }

    asio::io_context io_;
    std::shared_ptr<asio::ssl::context> context_;
    QuibTransport::Stream stream_;
    std::size_t rate_;
    int receiveBuffer_ = 0;
    std::mutex mutex_;
    std::vector<std::pair<std::uint64_t, AudioFrame>> frames_;
    std::vector<Arrival> packets_;
    std::thread thread_;
};

// parec piped into ffmpeg, whose ADTS output a thread of this process reads.
class Baseline {
public:
    explicit Baseline(const std::string& monitor) {
        int audio[2], encoded[2];
        if (::pipe2(audio, O_CLOEXEC) != 0 || ::pipe2(encoded, O_CLOEXEC) != 0) return;
        parec_ =
            spawn({"parec", "-d", monitor, "--format=float32le", "--rate=48000", "--channels=2", "--latency-msec=10"},
                  -1, audio[1]);
        ffmpeg_ = spawn({"ffmpeg", "-hide_banner", "-loglevel", "error", "-f", "f32le", "-ar", "48000", "-ac", "2",
                         "-i", "pipe:0", "-c:a", "aac", "-b:a", "96k", "-f", "adts", "pipe:1"},
                        audio[0], encoded[1]);
        ::close(audio[0]);
        ::close(audio[1]);
        ::close(encoded[1]);
        output_ = encoded[0];
        thread_ = std::thread([this] { read(); });
    }
    ~Baseline() {
        for (const pid_t pid : {parec_, ffmpeg_}) {
            if (pid <= 0) continue;
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (thread_.joinable()) thread_.join();
        if (output_ >= 0) ::close(output_);
    }
    bool started() const { return parec_ > 0 && ffmpeg_ > 0; }
    double cpu() const { return processCpu(parec_) + processCpu(ffmpeg_); }
    std::thread& thread() { return thread_; }
    std::vector<Arrival> packets() {
        std::lock_guard lock(mutex_);
        return packets_;
    }

private:
    static pid_t spawn(std::vector<std::string> arguments, int in, int out) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (in >= 0) posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
        std::vector<char*> argv;
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        return failed ? -1 : pid;
    }

    // ADTS: a 13-bit frame length in every header, which is 7 bytes, or 9 with a checksum.
    // The pipes are closed on exec, so each program holds only its own ends.
    void read() {
        std::vector<std::uint8_t> pending;
        std::uint8_t chunk[4096];
        for (ssize_t count; (count = ::read(output_, chunk, sizeof chunk)) > 0;) {
            const std::uint64_t at = nowNanos();
            pending.insert(pending.end(), chunk, chunk + count);
            std::size_t offset = 0;
            while (pending.size() - offset >= 7) {
                const std::uint8_t* h = pending.data() + offset;
                const std::size_t length = static_cast<std::size_t>(((h[3] & 3) << 11) | (h[4] << 3) | (h[5] >> 5));
                if (h[0] != 0xFF || (h[1] & 0xF0) != 0xF0 || length < 7) return;
                if (pending.size() - offset < length) break;
                std::lock_guard lock(mutex_);
                packets_.push_back({at, static_cast<std::int64_t>(length - ((h[1] & 1) ? 7 : 9))});
                offset += length;
            }
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(offset));
        }
    }

    pid_t parec_ = -1;
    pid_t ffmpeg_ = -1;
    int output_ = -1;
    std::mutex mutex_;
    std::vector<Arrival> packets_;
    std::thread thread_;
};

bool toolsPresent(benchmark::State& state, std::initializer_list<const char*> tools) {
    for (const char* tool : tools) {
        if (Subprocess::onPath(tool, Subprocess::searchPath())) continue;
        state.SkipWithError((std::string(tool) + " is not installed").c_str());
        return false;
    }
    return true;
}

std::string defaultMonitor() {
    const auto pactl = Subprocess::onPath("pactl", Subprocess::searchPath());
    const auto sink = Subprocess::run(*pactl, {"get-default-sink"}, std::nullopt, 10s);
    std::string name = sink.output;
    while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
    return sink.ok && !name.empty() ? name + ".monitor" : "";
}

void report(benchmark::State& state, const std::string& prefix, const std::vector<double>& values) {
    state.counters[prefix + "_p50_ms"] = percentile(values, 50);
    state.counters[prefix + "_p95_ms"] = percentile(values, 95);
    state.counters[prefix + "_p99_ms"] = percentile(values, 99);
}

void BM_ToneOnset(benchmark::State& state) {
    if (!toolsPresent(state, {"pactl", "parec", "ffmpeg"})) return;
    const std::string monitor = defaultMonitor();
    if (monitor.empty()) {
        state.SkipWithError("no sound server, or it has no default sink");
        return;
    }
    const int bursts = static_cast<int>(state.range(0));
    for (auto _ : state) {
        const auto before = tasks();
        BurstPlayer player;
        std::set<std::string> playing;  // the player's thread and its sound server client's
        std::ranges::set_difference(tasks(), before, std::inserter(playing, playing.end()));
        AudioHost host(true);
        Phone phone(host.port, 0);
        Baseline baseline(monitor);
        if (!baseline.started()) {
            state.SkipWithError("parec or ffmpeg did not start");
            host.server->stop();
            return;
        }
        std::this_thread::sleep_for(kWarmUp);
        const double processStart = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const double othersStart = tasksCpu(playing) + threadCpu(phone.thread()) + threadCpu(baseline.thread()) +
                                   cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        const double baselineStart = baseline.cpu();
        const auto start = std::chrono::steady_clock::now();
        player.beginBursts();
        std::this_thread::sleep_for(std::chrono::seconds(bursts) + 500ms);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double others = tasksCpu(playing) + threadCpu(phone.thread()) + threadCpu(baseline.thread()) +
                              cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - othersStart;
        const double ours = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processStart - others;
        const double theirs = baseline.cpu() - baselineStart;
        state.SetIterationTime(seconds);

        const auto onsets = player.onsets();
        const auto oursLatency = onsetLatencies(onsets, phone.packets());
        const auto baselineLatency = onsetLatencies(onsets, baseline.packets());
        report(state, "ours", oursLatency);
        report(state, "baseline", baselineLatency);
        state.counters["ours_cpu_ms_per_s"] = ours * 1000 / seconds;
        state.counters["baseline_cpu_ms_per_s"] = theirs * 1000 / seconds;
        state.counters["bursts"] = static_cast<double>(onsets.size());
        state.counters["ours_heard"] = static_cast<double>(oursLatency.size());
        state.counters["ours_packets"] = static_cast<double>(phone.packets().size());
        state.counters["baseline_packets"] = static_cast<double>(baseline.packets().size());
        state.counters["baseline_heard"] = static_cast<double>(baselineLatency.size());
        host.server->stop();  // ends the phone's channel
    }
}
BENCHMARK(BM_ToneOnset)->Arg(40)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// Arg: 1 with the low-water mark, 0 without.
void BM_ThrottledListener(benchmark::State& state) {
    if (!toolsPresent(state, {"pactl"}) || defaultMonitor().empty()) {
        state.SkipWithError("no sound server, or it has no default sink");
        return;
    }
    for (auto _ : state) {
        BurstPlayer player(true);  // noise: packets as large as the bit rate allows
        AudioHost host(state.range(0) == 1);
        Phone phone(host.port, 96000 / 8 / 3, 2048);
        std::this_thread::sleep_for(kWarmUp);
        const std::uint64_t since = nowNanos();
        std::this_thread::sleep_for(15s);
        state.SetIterationTime(15);
        const auto [waited, missing] = phone.waits(since);
        state.counters["wait_p50_ms"] = percentile(waited, 50);
        state.counters["wait_p95_ms"] = percentile(waited, 95);
        state.counters["wait_max_ms"] = percentile(waited, 100);
        state.counters["frames_heard"] = static_cast<double>(waited.size());
        state.counters["frames_dropped"] = static_cast<double>(missing);
        state.counters["mark_bytes"] = state.range(0) == 1 ? static_cast<double>(host.streamer->notSentLowWater()) : 0;
        state.counters["receive_buffer_bytes"] = phone.receiveBuffer();
        host.server->stop();
    }
}
BENCHMARK(BM_ThrottledListener)->Arg(1)->Arg(0)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
