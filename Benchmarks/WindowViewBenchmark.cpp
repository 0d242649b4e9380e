// A window's live view, end to end, on the X display named by QUIB_TEST_DISPLAY (else DISPLAY):
// a painter child process owns a window and draws a new band of noise every 1/60 s.
// Ours: the window capture, the panel streamer and the video encoder (x264 "superfast") behind
// the real server, onto a loopback TLS view channel that a reader thread drains. The baseline:
// ffmpeg's x11grab of the same window with the same x264 settings at the rate ours runs at,
// read from its pipe, each picture written out as soon as it is encoded (-flush_packets 1).
// Each reports frames out per second, the bit rate and its CPU share (ours from getrusage of this
// process, which holds the reader too; ffmpeg's from /proc/<pid>/stat).
// In latency mode the window stays idle until the painter makes a large change (noise it made
// beforehand over two thirds of the window), 200 times at random spacings of 50 to 150 ms, each
// with a block painted in the next code colour; two latencies are taken on the phone's side
// (ours from the view channel's frames, ffmpeg's from its stream): until the first byte of the
// first picture showing that code arrived, and until that picture had been decoded. Each is
// reported as the 50th, 95th and 99th percentile with the changes never seen within 2 s, beside
// the CPU share of the side measured (ours without the reader's thread, which is the phone's).
// Ours alone, with four viewers, and with one whose reader is throttled to about 3 Mbit/s under
// each of three low-water marks on its socket: the pacer's settled rate, the most in flight, the
// key frames after drops and the delay from capture to arrival.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "Benchmarks/LatencyCounters.hpp"
#include "Benchmarks/Support/BenchmarkDisplay.hpp"
#include "Benchmarks/Support/PictureCode.hpp"
#include "Benchmarks/Support/ProcessCpu.hpp"
#include "Platform/Linux/Media/FfmpegVideoSessionFactory.hpp"
#include "Platform/Linux/X11/X11Desktop.hpp"
#include "QuibHost/Connection/TlsViewConnection.hpp"
#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Streaming/PanelStreamer.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/MainLoop.hpp"
#include "Shared/ViewHelloPayload.hpp"
#include "Tests/Support/Eventually.hpp"
#include "Tests/Support/FakeTargetStore.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/TestHost.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"
// Last: Xlib's macros clash with the names above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;
constexpr const char* kCode = "KX7P2M";
constexpr const char* painterApp = "quib-bench-painter";
constexpr auto runFor = 5s;

using quib::bench::displayName;

using quib::bench::cpuOf;

double ownCpu() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The child that owns the window: it paints until it is killed. Its window id comes back on a pipe.
class Painter {
public:
    // Steady: a band every 1/60 s; otherwise a large change on each change().
    Painter(int width, int height, bool steady = true) {
        int fds[2], triggers[2];
        if (pipe(fds) != 0 || pipe(triggers) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            close(triggers[1]);
            paint(width, height, fds[1], steady ? -1 : triggers[0]);
            _exit(0);
        }
        close(fds[1]);
        close(triggers[0]);
        trigger_ = triggers[1];
        unsigned long id = 0;
        if (read(fds[0], &id, sizeof id) == sizeof id) window_ = id;
        close(fds[0]);
    }
    ~Painter() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (trigger_ >= 0) close(trigger_);
    }
    unsigned long window() const { return window_; }
    // A large change, with the block in code colour `code`.
    void change(int code) {
        const char byte = static_cast<char>(code);
        (void)!write(trigger_, &byte, 1);
    }

private:
    [[noreturn]] static void paint(int width, int height, int report, int trigger) {
        Display* display = XOpenDisplay(displayName().c_str());
        if (!display) _exit(1);
        const Window window =
            XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, static_cast<unsigned>(width),
                                static_cast<unsigned>(height), 0, 0, 0x303030);
        XClassHint hint{const_cast<char*>(painterApp), const_cast<char*>("QuibBenchPainter")};
        XSetClassHint(display, window, &hint);
        XStoreName(display, window, "Painter");
        XMapRaised(display, window);
        XSync(display, False);
        const unsigned long id = window;
        if (write(report, &id, sizeof id) != sizeof id) _exit(1);
        close(report);
        const int band = 48;
        const GC gc = XCreateGC(display, window, 0, nullptr);
        if (trigger >= 0) changeOnRequest(display, window, gc, width, height, band, trigger);
        std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * band);
        XImage* image = XCreateImage(display, DefaultVisual(display, DefaultScreen(display)), 24, ZPixmap, 0,
                                     reinterpret_cast<char*>(pixels.data()), static_cast<unsigned>(width), band, 32, 0);
        std::minstd_rand random(7);
        auto next = SteadyClock::now();
        for (int y = 0;; y = (y + band) % (height - band)) {
            for (auto& pixel : pixels) pixel = random() & 0xFFFFFF;
            XPutImage(display, window, gc, image, 0, 0, 0, y, static_cast<unsigned>(width), band);
            XSync(display, False);
            next += std::chrono::microseconds(16667);
            std::this_thread::sleep_until(next);
        }
    }

    // Noise over the upper two thirds of the window, in bands, then the code block below it. The
    // noise is made beforehand, as an app draws a frame it has already rendered, so that a change
    // is on the screen as fast as the server takes it in and its time is none of the painter's own
    // arithmetic. Each change brings noise of its own, which no picture can borrow from the
    // pictures of the last few changes.
    [[noreturn]] static void changeOnRequest(Display* display, Window window, GC gc, int width, int height, int band,
                                             int trigger) {
        const int rows = height * 2 / 3 / band * band;
        std::minstd_rand random(11);
        std::vector<std::vector<std::uint32_t>> noises(4);
        std::vector<XImage*> images;
        for (auto& noise : noises) {
            noise.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(rows));
            for (auto& pixel : noise) pixel = random() & 0xFFFFFF;
            images.push_back(XCreateImage(display, DefaultVisual(display, DefaultScreen(display)), 24, ZPixmap, 0,
                                          reinterpret_cast<char*>(noise.data()), static_cast<unsigned>(width),
                                          static_cast<unsigned>(rows), 32, 0));
        }
        const int side = std::min(width, height) / 8;
        const int left = static_cast<int>(width * quib::bench::codeX) - side / 2;
        const int top = static_cast<int>(height * quib::bench::codeY) - side / 2;
        std::size_t changes = 0;
        for (char byte = 0; read(trigger, &byte, 1) == 1;) {
            XImage* noise = images[changes++ % images.size()];
            for (int y = 0; y < rows; y += band)
                XPutImage(display, window, gc, noise, 0, y, 0, y, static_cast<unsigned>(width),
                          static_cast<unsigned>(band));
            const auto code = static_cast<std::size_t>(byte) % quib::bench::codeColours.size();
            XSetForeground(display, gc, quib::bench::codeColours[code]);
            XFillRectangle(display, window, gc, left, top, static_cast<unsigned>(side), static_cast<unsigned>(side));
            XSync(display, False);
        }
        _exit(0);
    }

    pid_t pid_ = -1;
    int trigger_ = -1;
    unsigned long window_ = 0;
};

// What the view channel's socket is told to hold back: the streamer's choice (the pacer's
// budget), nothing at all, or a fixed 128 KiB.
enum class LowWater { budget, none, fixed };

// The most any one viewer had in flight at once, and the last limit the streamer asked for (50 ms
// of the rate it applied to the encoder).
struct InFlight {
    std::atomic<std::int64_t> frames{0}, bytes{0}, lastLimit{0};
    void note(std::int64_t framesNow, std::int64_t bytesNow) {
        for (std::int64_t seen = frames; framesNow > seen && !frames.compare_exchange_weak(seen, framesNow);) {}
        for (std::int64_t seen = bytes; bytesNow > seen && !bytes.compare_exchange_weak(seen, bytesNow);) {}
    }
};

// A viewer's TLS connection as the streamer writes to it, counting what is in flight and
// holding back as `lowWater` says.
class MeasuredView final : public quib::ViewConnection {
public:
    MeasuredView(const std::shared_ptr<quib::TlsConnection>& connection, LowWater lowWater, InFlight& most)
        : inner_(std::make_shared<quib::TlsViewConnection>(connection)), lowWater_(lowWater), most_(most) {
        if (lowWater == LowWater::fixed) inner_->limitNotSent(128 * 1024);
    }
    const void* identity() const override { return inner_->identity(); }
    std::string localAddress() const override { return inner_->localAddress(); }
    void limitNotSent(std::size_t bytes) override {
        most_.lastLimit = static_cast<std::int64_t>(bytes);
        if (lowWater_ == LowWater::budget) inner_->limitNotSent(bytes);
    }
    void send(std::shared_ptr<const quib::Bytes> frame, quib::SendCompletion completed) override {
        const auto size = static_cast<std::int64_t>(frame->size());
        most_.note(++state_->frames, state_->bytes += size);
        inner_->send(std::move(frame), [state = state_, size, completed = std::move(completed)](auto written) {
            --state->frames;
            state->bytes -= size;
            if (completed) completed(std::move(written));
        });
    }

private:
    struct State {
        std::atomic<std::int64_t> frames{0}, bytes{0};
    };
    std::shared_ptr<quib::TlsViewConnection> inner_;
    LowWater lowWater_;
    InFlight& most_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// The streamer as the server sees it, with every viewer's connection measured.
class MeasuredStreaming final : public quib::PanelStreamerService {
public:
    MeasuredStreaming(std::shared_ptr<quib::PanelStreamer> streamer, LowWater lowWater)
        : streamer_(std::move(streamer)), lowWater_(lowWater) {}
    void attachViewer(const std::shared_ptr<quib::TlsConnection>& connection,
                      const quib::ViewHelloPayload& hello) override {
        streamer_->attach(std::make_shared<MeasuredView>(connection, lowWater_, most), hello);
    }
    void detachViewer(const quib::TlsConnection& connection) override { streamer_->detach(&connection); }
    std::optional<quib::Rect> pointableWindowFrame() override { return streamer_->pointableWindowFrame(); }

    InFlight most;

private:
    std::shared_ptr<quib::PanelStreamer> streamer_;
    LowWater lowWater_;
};

// One phone's view channel, drained by a thread of its own, at most `bitsPerSecond` when above 0.
class ViewReader {
public:
    // With `decode`, every video frame is decoded as it comes and its code read.
    ViewReader(quib::PhoneClient::Options options, int width, int height, double bitsPerSecond, bool decode = false)
        : bitsPerSecond_(bitsPerSecond), decode_(decode) {
        auto phone = quib::PhoneClient::connect(options);
        if (!phone) return;
        phone_ = std::move(*phone);
        phone_->expectBytes();
        const auto hello = quib::ViewHelloPayload::make(23, "Bench", "D-V", width, height, {0, 0, 1, 1});
        (void)phone_->sendLine(quib::Json{{"viewHello", {{"_0", hello.toJson()}}}}.dump());
        thread_ = std::thread([this] { drain(); });
    }
    ~ViewReader() {
        stopping_ = true;
        if (thread_.joinable()) thread_.join();
    }
    bool ready() const { return phone_ != nullptr; }
    std::int64_t frames() const { return frames_.load(); }
    std::int64_t bytes() const { return bytes_.load(); }
    std::int64_t keyframes() const { return keyframes_.load(); }
    const quib::bench::CodeWatcher& watcher() const { return watcher_; }
    // The CPU time the reader's thread has taken: the phone's side (TLS, decoding).
    double cpu() const { return threadCpu_.load(); }
    // Milliseconds from capture to arrival of each video frame from now on.
    std::vector<double> takeLatencies() {
        std::lock_guard lock(mutex_);
        return std::exchange(latencies_, {});
    }

private:
    void drain() {
        quib::ViewFrameReader reader(quib::ViewChannel::maxFrameBytes);
        const auto began = SteadyClock::now();
        std::int64_t taken = 0;
        SteadyClock::time_point frameStart;  // when the first byte of the frame now read arrived
        while (!stopping_) {
            auto bytes = phone_->receiveBytes(20ms);
            threadCpu_ = threadCpu();
            if (!bytes) continue;
            taken += static_cast<std::int64_t>(bytes->size());
            const auto arrived = quib::SystemClock::shared()->now().time_since_epoch();
            const auto firstByte = SteadyClock::now();
            if (reader.bufferedBytes() == 0) frameStart = firstByte;
            for (const auto& frame : reader.append(*bytes)) {
                const auto started = std::exchange(frameStart, firstByte);
                if (frame.header.kind != quib::ViewFrame::Kind::video) continue;
                ++frames_;
                bytes_ += static_cast<std::int64_t>(frame.payload.size());
                if (frame.header.isKeyframe.value_or(false)) ++keyframes_;
                if (decode_) watcher_.append(frame.header, frame.payload, started);
                std::lock_guard lock(mutex_);
                latencies_.push_back(std::chrono::duration<double, std::milli>(
                                         arrived - std::chrono::nanoseconds(frame.header.captureTime))
                                         .count());
            }
            if (bitsPerSecond_ > 0)
                std::this_thread::sleep_until(began + std::chrono::duration<double>(taken * 8 / bitsPerSecond_));
        }
    }

    static double threadCpu() {
        timespec spent{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &spent);
        return static_cast<double>(spent.tv_sec) + static_cast<double>(spent.tv_nsec) / 1e9;
    }

    double bitsPerSecond_;
    bool decode_;
    quib::bench::CodeWatcher watcher_;
    std::unique_ptr<quib::PhoneClient> phone_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::int64_t> frames_{0}, bytes_{0}, keyframes_{0};
    std::atomic<double> threadCpu_{0};
    std::mutex mutex_;
    std::vector<double> latencies_;
};

// How many phones watch, how they read, and what their sockets hold back.
struct ViewOptions {
    int viewers = 1;
    double bitsPerSecond = 0;  // each reader's pace; 0: as fast as it can
    int receiveBuffer = 0;     // each reader's SO_RCVBUF; 0: the system's
    LowWater lowWater = LowWater::budget;
    bool decode = false;  // the readers decode what they read
};

// Our side: the server with the real streamer watching the painter's app, and its phones.
class OurView {
public:
    OurView(int width, int height, ViewOptions options = {}) {
        std::ofstream(apps.path / (std::string(painterApp) + ".desktop"))
            << "[Desktop Entry]\nType=Application\nName=Painter\nExec=" << painterApp
            << "\nStartupWMClass=QuibBenchPainter\n";
        quib::Logger::setSink(log);
        desktop = quib::X11Desktop::open(displayName(), std::make_shared<quib::DesktopEntries>(std::vector{apps.path}));
        if (!desktop) return;
        quib::QuibTarget target;
        target.id = "P";
        target.name = "Painter";
        target.kind = quib::QuibTarget::Kind::app;
        target.bundleID = painterApp;
        targets->setSnapshot({{target}, {}}, "P");
        streamer = quib::PanelStreamer::onDesktop(
            {.main = main, .targets = targets, .clock = clock, .settings = settings}, desktop->services,
            std::make_shared<quib::ScreenAccess>(desktop->permissions),
            std::make_shared<quib::FfmpegVideoSessionFactory>());
        streaming = std::make_shared<MeasuredStreaming>(streamer, options.lowWater);
        const auto host = quib::testing::TestHost::onFreePort(main, settings, clock, scratch.path);
        registry = host.registry;
        server = host.loopbackServer({.panelStreamer = streaming});
        main->post([&] {
            (void)registry->approve("D-V", "Bench");
            server->start(kCode);
        });
        if (!quib::testing::eventually([&] { return server->isListening().value(); }, 5s, [&] { main->runPending(); }))
            return;
        quib::PhoneClient::Options phone;
        phone.port = server->inspect().listenerPort.value_or(0);
        phone.pairingCode = kCode;
        phone.receiveBuffer = options.receiveBuffer;
        for (int viewer = 0; viewer < options.viewers; ++viewer)
            readers.push_back(
                std::make_unique<ViewReader>(phone, width, height, options.bitsPerSecond, options.decode));
    }
    ~OurView() {
        readers.clear();
        quib::testing::stopServer(server, *main);
        streaming.reset();
        streamer.reset();
        main->runPending();
    }
    bool ready() const {
        return !readers.empty() && std::ranges::all_of(readers, [](const auto& reader) { return reader->ready(); });
    }
    std::int64_t frames() const { return readers.front()->frames(); }
    std::int64_t bytes() const { return readers.front()->bytes(); }
    // The bit rate last applied to the encoder: its unsent limit is 50 ms of it.
    double appliedKbps() const { return static_cast<double>(streaming->most.lastLimit.load()) * 8 / 0.05 / 1000; }

    std::vector<std::unique_ptr<ViewReader>> readers;
    std::shared_ptr<MeasuredStreaming> streaming;

private:
    quib::testing::ScratchFolder scratch{"quib-bench-view"};
    quib::testing::ScratchFolder apps{"quib-bench-apps"};
    std::shared_ptr<quib::CapturingLogSink> log = std::make_shared<quib::CapturingLogSink>();
    std::shared_ptr<quib::SystemClock> clock = quib::SystemClock::shared();
    std::shared_ptr<quib::MainLoop> main = std::make_shared<quib::MainLoop>(clock);
    std::shared_ptr<quib::Settings> settings = quib::Settings::inMemory();
    std::shared_ptr<quib::testing::FakeTargetStore> targets = std::make_shared<quib::testing::FakeTargetStore>(main);
    std::optional<quib::X11Desktop::Opened> desktop;
    std::shared_ptr<quib::DeviceRegistry> registry;
    std::shared_ptr<quib::PanelStreamer> streamer;
    std::shared_ptr<quib::HostServer> server;
};

// Pictures in an H.264 byte stream: slices whose first_mb_in_slice is 0 (its first bit set).
class AnnexBCounter {
public:
    void append(const char* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            const auto byte = static_cast<std::uint8_t>(data[i]);
            if (state_ == 3) {
                const int type = byte & 0x1F;
                state_ = (type == 1 || type == 5) ? 4 : 0;
                continue;
            }
            if (state_ == 4) {
                if (byte & 0x80) ++pictures;
                state_ = 0;
            }
            zeros_ = byte == 0 ? zeros_ + 1 : (byte == 1 && zeros_ >= 2 ? (state_ = 3, 0) : 0);
        }
        bytes += static_cast<std::int64_t>(size);
    }
    std::int64_t pictures = 0, bytes = 0;

private:
    int zeros_ = 0, state_ = 0;
};

void report(benchmark::State& state, double seconds, std::int64_t frames, std::int64_t bytes, double cpu) {
    state.counters["frames_per_s"] = static_cast<double>(frames) / seconds;
    state.counters["kbit_per_s"] = static_cast<double>(bytes) * 8 / 1000 / seconds;
    state.counters["cpu_percent"] = cpu / seconds * 100;
}

// 200 large changes at random spacings; each latency until the first byte of the first picture
// showing its code arrived, and until that picture had been decoded. A change not seen within 2 s
// counts as missed (and is left out of the percentiles). `cpu` is the CPU time the side measured
// has taken so far, in seconds.
void measureLatency(benchmark::State& state, Painter& painter, const quib::bench::CodeWatcher& watcher,
                    const std::function<double()>& cpu) {
    std::vector<double> decoded, firstByte;
    std::minstd_rand random(3);
    int missed = 0;
    const std::int64_t picturesBefore = watcher.pictures();
    constexpr int changes = 200;
    const double cpuBefore = cpu();
    const auto began = SteadyClock::now();
    const auto millis = [](SteadyClock::duration took) {
        return std::chrono::duration<double, std::milli>(took).count();
    };
    for (int change = 0; change < changes; ++change) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50 + random() % 101));
        const int code = change % static_cast<int>(quib::bench::codeColours.size());
        const auto t0 = SteadyClock::now();
        painter.change(code);
        while (watcher.code() != code && SteadyClock::now() - t0 < 2s) std::this_thread::sleep_for(100us);
        // After a miss the code may still show from an earlier change: that is no sight of this one.
        if (watcher.code() != code || watcher.codeFirstByte() < t0) {
            ++missed;
            continue;
        }
        decoded.push_back(millis(SteadyClock::now() - t0));
        firstByte.push_back(millis(watcher.codeFirstByte() - t0));
    }
    const double seconds = std::chrono::duration<double>(SteadyClock::now() - began).count();
    quib::bench::reportLatencies(state, decoded);
    quib::bench::reportLatencies(state, firstByte, "first_byte_");
    state.counters["missed"] = missed;
    state.counters["pictures_per_change"] = static_cast<double>(watcher.pictures() - picturesBefore) / changes;
    state.counters["cpu_percent"] = (cpu() - cpuBefore) / seconds * 100;
}

void BM_OurWindowView(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
    if (displayName().empty()) return state.SkipWithError("no X display");
    const bool steady = state.range(2) != 0;
    Painter painter(width, height, steady);
    OurView view(width, height, {.decode = !steady});
    if (!painter.window() || !view.ready()) return state.SkipWithError("the view did not open");
    std::this_thread::sleep_for(1s);  // past the first key frame and the pacer's start
    for (auto _ : state) {
        if (!steady) {
            // The host's side alone: the reader's thread is the phone's.
            const auto& reader = *view.readers.front();
            measureLatency(state, painter, reader.watcher(), [&] { return ownCpu() - reader.cpu(); });
            continue;
        }
        const auto frames = view.frames(), bytes = view.bytes();
        const double cpu = ownCpu();
        const auto began = SteadyClock::now();
        std::this_thread::sleep_for(runFor);
        const double seconds = std::chrono::duration<double>(SteadyClock::now() - began).count();
        report(state, seconds, view.frames() - frames, view.bytes() - bytes, ownCpu() - cpu);
    }
}

void BM_FfmpegWindowView(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
    if (displayName().empty()) return state.SkipWithError("no X display");
    const bool steady = state.range(3) != 0;
    Painter painter(width, height, steady);
    if (!painter.window()) return state.SkipWithError("no painter window");
    const std::string rate = std::to_string(state.range(2) / 1000) + "k";
    const std::string buffer = std::to_string(state.range(2) / 4000) + "k";
    int out[2];
    if (pipe(out) != 0) return state.SkipWithError("no pipe");
    const pid_t ffmpeg = fork();
    if (ffmpeg == 0) {
        dup2(out[1], 1);
        close(out[0]);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        const std::string window = std::to_string(painter.window());
        execlp("ffmpeg", "ffmpeg", "-nostdin", "-f", "x11grab", "-window_id", window.c_str(), "-framerate", "60", "-i",
               displayName().c_str(), "-c:v", "libx264", "-preset", "superfast", "-tune", "zerolatency", "-x264-params",
               "force-cfr=0", "-b:v", rate.c_str(), "-maxrate", rate.c_str(), "-bufsize", buffer.c_str(), "-f", "h264",
               "-flush_packets", "1", "pipe:1", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    AnnexBCounter counter;
    quib::bench::CodeWatcher watcher;
    // Read until ffmpeg has gone: it cannot end while its pipe is full. In latency mode what came
    // is decoded once the pipe has stayed empty for a moment: ffmpeg writes each picture at once.
    std::atomic<std::int64_t> pictures{0}, bytes{0};
    std::thread reader([&] {
        std::vector<std::uint8_t> chunk(1 << 20);
        std::vector<std::uint8_t> unread;
        SteadyClock::time_point firstByte;  // of what is unread
        for (ssize_t n; (n = read(out[0], chunk.data(), chunk.size())) > 0;) {
            counter.append(reinterpret_cast<const char*>(chunk.data()), static_cast<std::size_t>(n));
            pictures = counter.pictures;
            bytes = counter.bytes;
            if (steady) continue;
            if (unread.empty()) firstByte = SteadyClock::now();
            unread.insert(unread.end(), chunk.begin(), chunk.begin() + n);
            pollfd more{out[0], POLLIN, 0};
            const timespec moment{0, 300'000};
            if (ppoll(&more, 1, &moment, nullptr) > 0) continue;
            watcher.append(unread.data(), unread.size(), firstByte);
            unread.clear();
        }
    });
    std::this_thread::sleep_for(1s);
    for (auto _ : state) {
        if (!steady) {
            measureLatency(state, painter, watcher, [&] { return cpuOf(ffmpeg); });
            continue;
        }
        const std::int64_t framesBefore = pictures, bytesBefore = bytes;
        const double cpu = cpuOf(ffmpeg);
        const auto began = SteadyClock::now();
        std::this_thread::sleep_for(runFor);
        const double seconds = std::chrono::duration<double>(SteadyClock::now() - began).count();
        report(state, seconds, pictures - framesBefore, bytes - bytesBefore, cpuOf(ffmpeg) - cpu);
    }
    kill(ffmpeg, SIGTERM);
    waitpid(ffmpeg, nullptr, 0);
    reader.join();
    close(out[0]);
}

// Ours alone, 1280 × 720 in steady mode, after the pacer has had a few seconds: the rate last
// applied to the encoder, the most frames and bytes any viewer had in flight, and the key frames
// sent after the first (each one follows a drop). With several viewers, or one whose reader
// takes only about 3 Mbit/s through a 64 KiB receive buffer, under each low-water setting;
// there also the delay from capture to arrival.
void measureAlone(benchmark::State& state, int viewers, double bitsPerSecond, LowWater lowWater) {
    if (displayName().empty()) return state.SkipWithError("no X display");
    Painter painter(1280, 720);
    OurView view(1280, 720,
                 {.viewers = viewers,
                  .bitsPerSecond = bitsPerSecond,
                  .receiveBuffer = bitsPerSecond > 0 ? 64 * 1024 : 0,
                  .lowWater = lowWater});
    if (!painter.window() || !view.ready()) return state.SkipWithError("the view did not open");
    std::this_thread::sleep_for(4s);  // the pacer settles
    for (auto _ : state) {
        for (auto& reader : view.readers) (void)reader->takeLatencies();
        view.streaming->most.frames = 0;
        view.streaming->most.bytes = 0;
        const auto frames = view.frames(), bytes = view.bytes();
        const auto began = SteadyClock::now();
        std::this_thread::sleep_for(runFor);
        const double seconds = std::chrono::duration<double>(SteadyClock::now() - began).count();
        state.counters["frames_per_s"] = static_cast<double>(view.frames() - frames) / seconds;
        state.counters["kbit_per_s"] = static_cast<double>(view.bytes() - bytes) * 8 / 1000 / seconds;
        state.counters["applied_kbps"] = view.appliedKbps();
        state.counters["max_frames_in_flight"] = static_cast<double>(view.streaming->most.frames.load());
        state.counters["max_bytes_in_flight"] = static_cast<double>(view.streaming->most.bytes.load());
        std::int64_t keyframes = 0;
        for (const auto& reader : view.readers) keyframes += std::max<std::int64_t>(reader->keyframes() - 1, 0);
        state.counters["keyframes_after_drops"] = static_cast<double>(keyframes);
        auto latencies = view.readers.front()->takeLatencies();
        quib::bench::reportLatencies(state, latencies);
    }
}

void BM_OurWindowViewFourViewers(benchmark::State& state) { measureAlone(state, 4, 0, LowWater::budget); }

// Argument: the low-water setting (LowWater: the pacer's budget, none, 128 KiB).
void BM_OurWindowViewThrottled(benchmark::State& state) {
    const auto lowWater = static_cast<LowWater>(state.range(0));
    state.SetLabel(lowWater == LowWater::budget ? "the pacer's budget"
                   : lowWater == LowWater::none ? "none"
                                                : "128 KiB");
    measureAlone(state, 1, 3e6, lowWater);
}

}  // namespace

// Arguments: width, height, (ffmpeg: bit rate,) steady (1) or latency (0).
BENCHMARK(BM_OurWindowView)
    ->Args({1280, 720, 1})
    ->Args({1920, 1080, 1})
    ->Args({1280, 720, 0})
    ->Args({1920, 1080, 0})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_FfmpegWindowView)
    ->Args({1280, 720, 12000000, 1})
    ->Args({1920, 1080, 12000000, 1})
    ->Args({1280, 720, 12000000, 0})
    ->Args({1920, 1080, 12000000, 0})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_OurWindowViewFourViewers)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_OurWindowViewThrottled)
    ->Arg(static_cast<int>(LowWater::none))
    ->Arg(static_cast<int>(LowWater::budget))
    ->Arg(static_cast<int>(LowWater::fixed))
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);
