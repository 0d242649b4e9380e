// Connection set-up on loopback (accept, TLS handshake, first lines answered), lines per second
// through the server's receive path, a large image upload beside a bare TLS sink, and the memory
// each idle approved phone holds beside a minimal TLS server's.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <openssl/ssl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/read_until.hpp>
#include <asio/streambuf.hpp>
#include <asio/write.hpp>

#include "Benchmarks/Support/BlockingPhone.hpp"
#include "Benchmarks/Support/NullSink.hpp"
#include "Platform/Linux/NetlinkInterfaceWatch.hpp"
#include "QuibHost/Server/HostServer.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/MainLoop.hpp"
#include "Tests/Support/ChildProcess.hpp"
#include "Tests/Support/FakeTargetStore.hpp"
#include "Tests/Support/FreePort.hpp"
#include "Tests/Support/RecordingTargetRouter.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/SettablePermissions.hpp"
#include "Tests/Support/TestImages.hpp"
#include "Tests/Support/TestHost.hpp"

using namespace quib;

namespace {

using quib::bench::NullSink;

constexpr const char* code = "ABCDEF";

struct HostOptions {
    bool onDisk = false;         // settings kept in a file, written as a real host's are
    bool phoneApproved = false;  // "B-1" approved before the server starts
    bool uploadTargets = false;  // the target "T-1" exists and deliveries are only recorded
};

// A host on loopback.
struct Host {
    explicit Host(HostOptions options = {})
        : settings(options.onDisk ? Settings::atPath(scratch.path / "defaults.json") : Settings::inMemory()) {
        Logger::setSink(std::make_shared<NullSink>());
        (void)settings->setInteger(ServerSettings::portKey, quib::testing::freePort());
        auto clock = SystemClock::shared();
        registry = DeviceRegistry::create(main, settings, clock);
        if (options.phoneApproved) (void)registry->approve("B-1", "Bench");
        main->runPending();
        HostServerNeighbours given;
        if (options.uploadTargets) {
            auto targets = std::make_shared<quib::testing::FakeTargetStore>(main);
            QuibTarget target;
            target.id = "T-1";
            target.name = "Bench";
            targets->setSnapshot({.saved = {target}, .provisional = {}});
            given.targets = targets;
            given.router = std::make_shared<quib::testing::RecordingTargetRouter>();
        }
        auto config = quib::testing::TestHost{.main = main,
                                              .settings = settings,
                                              .clock = clock,
                                              .registry = registry,
                                              .permissions = std::make_shared<SettablePermissions>(),
                                              .dataHome = scratch.path}
                          .serverConfig(given);
        // As in quib-host, whose watch starts after the server: the interfaces of connection log
        // lines are kept until they change.
        config.interfaces = std::make_shared<NetlinkInterfaceWatch>();
        server = HostServer::create(std::move(config));
        server->start(code);
        server->beginSystemWatch();
        port = server->inspect().listenerPort.value_or(0);
    }
    ~Host() {
        server->stop();
        main->runPending();
    }
    void approve(const std::string& deviceID) {
        main->post([&] { (void)registry->approve(deviceID, "Bench"); });
        main->runPending();
    }

    quib::testing::ScratchFolder scratch{"quib-bench"};
    std::shared_ptr<MainLoop> main = std::make_shared<MainLoop>();
    std::shared_ptr<Settings> settings;
    std::shared_ptr<DeviceRegistry> registry;
    std::shared_ptr<HostServer> server;
    std::uint16_t port = 0;
};

// A blocking phone: connect, handshake, write lines, read lines.
struct Phone : quib::bench::BlockingPhone {
    explicit Phone(std::uint16_t port) : BlockingPhone(port, code) {}
};

std::string helloOf(const std::string& deviceID) {
    return R"({"hello":{"_0":{"protocolVersion":23,"deviceName":"Bench","deviceID":")" + deviceID + "\"}}}\n";
}
const std::string hello = helloOf("B-1");
bool listening(std::uint16_t port) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        asio::io_context io;
        asio::ip::tcp::socket socket(io);
        std::error_code error;
        socket.connect({asio::ip::make_address("127.0.0.1"), port}, error);
        if (!error) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::string hexOf(const Bytes& bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    for (auto byte : bytes) hex += {digits[byte >> 4], digits[byte & 15]};
    return hex;
}

const std::string ping = R"({"ping":{"nonce":1}})" "\n";

void BM_ConnectionSetUp(benchmark::State& state) {
    Host host;
    for (auto _ : state) {
        Phone phone(host.port);
        phone.write(hello + ping);
        benchmark::DoNotOptimize(phone.readLine());
        state.PauseTiming();
        host.main->runPending();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ConnectionSetUp)->Unit(benchmark::kMicrosecond)->UseRealTime();

// What a phone that is already approved costs the host from connecting to its welcome: the
// handshake, the hello, the welcome, and the bookkeeping of the device having been seen, with
// the settings kept on disk.
void BM_ApprovedHello(benchmark::State& state) {
    Host host({.onDisk = true, .phoneApproved = true});
    for (auto _ : state) {
        Phone phone(host.port);
        phone.write(hello);
        benchmark::DoNotOptimize(phone.readLine());
        host.main->runPending();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ApprovedHello)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);

// The baseline: `openssl s_server` with the same key, answering the same hello line with one line.
void BM_OpensslServerHello(benchmark::State& state) {
    const std::uint16_t port = quib::testing::freePort();
    quib::testing::ScratchFolder scratch{"quib-bench-openssl"};
    const Bytes key = QuibTransport::pskData(code, QuibTransport::Derivation::current());
    // It reports every connection on its standard output, which nobody reads here.
    const std::string command = "exec openssl s_server -accept 127.0.0.1:" + std::to_string(port) +
                                " -nocert -psk " + hexOf(key) + " -psk_identity " + std::string(QuibTransport::codeIdentity) +
                                " -tls1_3 -ciphersuites " + std::string(QuibTransport::cipherSuite) + " -rev -quiet >/dev/null";
    auto server = quib::testing::ChildProcess::start({"sh", "-c", command}, {}, scratch.path / "stderr");
    if (!server || !listening(port)) {
        state.SkipWithError("openssl s_server did not start");
        return;
    }
    for (auto _ : state) {
        Phone phone(port);
        phone.write(hello);
        benchmark::DoNotOptimize(phone.readLine());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OpensslServerHello)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);

void BM_LinesThroughReceive(benchmark::State& state) {
    Host host;
    Phone phone(host.port);
    phone.write(hello);
    const auto batch = static_cast<std::size_t>(state.range(0));
    std::string lines;
    for (std::size_t i = 0; i < batch; ++i) lines += R"({"move":{"dx":1.5,"dy":-2}})" "\n";
    lines += ping;
    for (auto _ : state) {
        phone.write(lines);
        benchmark::DoNotOptimize(phone.readLine());
        state.PauseTiming();
        host.main->runPending();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * (batch + 1)));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * lines.size()));
}
BENCHMARK(BM_LinesThroughReceive)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- Uploads ------------------------------------------------------------------------------

constexpr std::size_t uploadBytes = 20'000'000;

// A PNG of 4000 x 4000 pixels as far as the host looks, padded to 20 MB.
const Bytes& twentyMegabytePng() {
    static const Bytes image = [] {
        Bytes png = quib::testing::pngHeader(4000, 4000);
        png.resize(uploadBytes, 0x5a);
        return png;
    }();
    return image;
}

void clearInbox(const std::filesystem::path& dataHome) {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(dataHome / "Quib" / "inbox", ignored))
        std::filesystem::remove(entry.path(), ignored);
}

// One image of 20 MB per connection: hello, the frame, and the receipt.
void BM_Upload20MB(benchmark::State& state) {
    Host host({.uploadTargets = true});
    host.approve("B-1");
    const std::string uploadHello =
        R"({"uploadHello":{"_0":{"deviceID":"B-1","deviceName":"Bench","targetIDs":["T-1"],"count":1}}})" "\n";
    const Bytes& png = twentyMegabytePng();
    const Bytes frame = *AttachmentFrameWriter::encode({0, AttachmentFrame::Format::png, std::ssize(png), 4000, 4000}, png);
    for (auto _ : state) {
        Phone phone(host.port);
        phone.write(uploadHello);
        benchmark::DoNotOptimize(phone.readLine());
        asio::write(phone.stream, asio::buffer(frame));
        const std::string receipt = phone.readLine();
        if (receipt.find("delivered") == std::string::npos) state.SkipWithError(receipt.c_str());
        state.PauseTiming();
        host.main->runPending();
        clearInbox(host.scratch.path);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * frame.size()));
}
BENCHMARK(BM_Upload20MB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// The baseline's far end: one TLS connection at a time, with the host's key; it reads what it
// is told to expect and answers with one line.
class TlsSink {
public:
    explicit TlsSink(std::size_t expected)
        : expected_(expected),
          context_(*QuibTransport::serverContext(QuibTransport::parameters(code, QuibTransport::Derivation::current()))),
          acceptor_(io_, {asio::ip::make_address("127.0.0.1"), 0}),
          thread_([this] { serve(); }) {}
    ~TlsSink() {
        stopping_ = true;
        asio::ip::tcp::socket wake(io_);
        std::error_code ignored;
        wake.connect(acceptor_.local_endpoint(), ignored);
        thread_.join();
    }
    std::uint16_t port() const { return acceptor_.local_endpoint().port(); }

private:
    void serve() {
        while (!stopping_) {
            std::error_code error;
            asio::ip::tcp::socket socket(io_);
            acceptor_.accept(socket, error);
            if (error || stopping_) return;
            QuibTransport::Stream stream(std::move(socket), *context_);
            stream.handshake(asio::ssl::stream_base::server, error);
            std::size_t got = 0;
            while (!error && got < expected_) got += stream.read_some(asio::buffer(buffer_), error);
            asio::write(stream, asio::buffer(std::string_view("ok\n")), error);
        }
    }

    std::size_t expected_;
    asio::io_context io_;
    std::shared_ptr<asio::ssl::context> context_;
    asio::ip::tcp::acceptor acceptor_;
    std::array<char, 16384> buffer_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// The same bytes over the same kind of connection into a sink that only reads them.
void BM_Upload20MBBaselineTlsSink(benchmark::State& state) {
    const Bytes& png = twentyMegabytePng();
    const Bytes frame = *AttachmentFrameWriter::encode({0, AttachmentFrame::Format::png, std::ssize(png), 4000, 4000}, png);
    TlsSink sink(frame.size());
    for (auto _ : state) {
        Phone phone(sink.port());
        asio::write(phone.stream, asio::buffer(frame));
        benchmark::DoNotOptimize(phone.readLine());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * frame.size()));
}
BENCHMARK(BM_Upload20MBBaselineTlsSink)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// ---- Memory per idle phone ------------------------------------------------------------------

// The budget's worth of phones: as many connections as the host keeps.
constexpr int idlePhones = quib::HostServer::connectionBudget;

std::int64_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::int64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

// What the heap has handed out and not taken back, whether touched yet or not.
std::int64_t heapBytes() {
    const struct mallinfo2 info = ::mallinfo2();
    return static_cast<std::int64_t>(info.uordblks + info.hblkhd);
}

// Phones in a child process, forked before the server starts its threads, so that what is
// measured here is the server's memory alone. Each connects, says its hello, reads the first
// line of the answer and stays connected, idle, until the fleet is dropped. They come in two
// halves, so that what the first connections of a process set up once is not counted per phone.
class IdlePhones {
public:
    IdlePhones() {
        if (::pipe(toChild_) != 0 || ::pipe(fromChild_) != 0) std::abort();
        child_ = ::fork();
        if (child_ == 0) runChild();
        ::close(toChild_[0]);
        ::close(fromChild_[1]);
    }
    ~IdlePhones() {
        ::close(toChild_[1]);
        ::close(fromChild_[0]);
        int status = 0;
        ::waitpid(child_, &status, 0);
    }
    // Connects the next half; false when the child could not.
    bool connectHalf(std::uint16_t port) {
        char ready = 0;
        return ::write(toChild_[1], &port, sizeof port) == sizeof port && ::read(fromChild_[0], &ready, 1) == 1 && ready == 'r';
    }

private:
    [[noreturn]] void runChild() {
        ::close(toChild_[1]);
        ::close(fromChild_[0]);
        std::vector<std::unique_ptr<Phone>> phones;
        for (int half = 0; half < 2; ++half) {
            std::uint16_t port = 0;
            if (::read(toChild_[0], &port, sizeof port) != sizeof port) ::_exit(1);
            for (int i = 0; i < idlePhones / 2; ++i) {
                phones.push_back(std::make_unique<Phone>(port));
                phones.back()->write(helloOf("B-" + std::to_string(phones.size() - 1)));
                (void)phones.back()->readLine();
            }
            const char ready = 'r';
            if (::write(fromChild_[1], &ready, 1) != 1) ::_exit(1);
        }
        char end = 0;
        (void)::read(toChild_[0], &end, 1);  // until the parent closes its end
        ::_exit(0);
    }

    int toChild_[2] = {-1, -1};
    int fromChild_[2] = {-1, -1};
    pid_t child_ = -1;
};

// The growth of the server's heap and resident memory per phone, from half the phones to all of
// them, once every phone is idle. The resident figure is right only for a server that is the
// first of its process (pages an earlier one freed are reused without growth): run each case
// alone, e.g. --benchmark_filter=BM_IdleApprovedPhoneMemory, several times.
template <class Server>
void measureIdlePhones(benchmark::State& state) {
    for (auto _ : state) {
        IdlePhones phones;
        Server server;
        server.settle();
        bool connected = phones.connectHalf(server.port());
        server.settle();
        const std::int64_t resident = residentBytes();
        const std::int64_t heap = heapBytes();
        connected = connected && phones.connectHalf(server.port());
        server.settle();
        if (!connected) state.SkipWithError("the phones could not connect");
        constexpr double added = idlePhones - idlePhones / 2;
        state.counters["heap_per_phone"] = static_cast<double>(heapBytes() - heap) / added;
        state.counters["resident_per_phone"] = static_cast<double>(residentBytes() - resident) / added;
    }
}

struct HostWithApprovedPhones {
    HostWithApprovedPhones() {
        for (int i = 0; i < idlePhones; ++i) host.approve("B-" + std::to_string(i));
    }
    std::uint16_t port() const { return host.port; }
    void settle() {
        for (int i = 0; i < 30; ++i) {
            host.main->runPending();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    Host host;
};

void BM_IdleApprovedPhoneMemory(benchmark::State& state) { measureIdlePhones<HostWithApprovedPhones>(state); }
BENCHMARK(BM_IdleApprovedPhoneMemory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A minimal TLS server with OpenSSL's defaults: it answers each connection's first line with a
// line, then keeps a read of up to 16 KiB waiting.
class MinimalTlsServer {
public:
    MinimalTlsServer()
        : context_(*QuibTransport::serverContext(QuibTransport::parameters(code, QuibTransport::Derivation::current()))),
          acceptor_(io_, {asio::ip::make_address("127.0.0.1"), 0}) {
        SSL_CTX_clear_mode(context_->native_handle(), SSL_MODE_RELEASE_BUFFERS);
        accept();
        thread_ = std::thread([this] { io_.run(); });
    }
    ~MinimalTlsServer() {
        io_.stop();
        thread_.join();
    }
    std::uint16_t port() const { return acceptor_.local_endpoint().port(); }
    void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }

private:
    struct Connection {
        Connection(asio::ip::tcp::socket socket, asio::ssl::context& context) : stream(std::move(socket), context) {}
        QuibTransport::Stream stream;
        asio::streambuf line;
        std::array<char, 16384> buffer;
    };

    void accept() {
        acceptor_.async_accept([this](std::error_code error, asio::ip::tcp::socket socket) {
            if (error) return;
            auto connection = std::make_shared<Connection>(std::move(socket), *context_);
            connections_.push_back(connection);
            connection->stream.async_handshake(asio::ssl::stream_base::server, [connection](std::error_code error) {
                if (!error) answer(connection);
            });
            accept();
        });
    }
    static void answer(const std::shared_ptr<Connection>& connection) {
        asio::async_read_until(connection->stream, connection->line, '\n', [connection](std::error_code error, std::size_t) {
            if (error) return;
            static const std::string reply = "{}\n";
            asio::async_write(connection->stream, asio::buffer(reply), [connection](std::error_code error, std::size_t) {
                if (error) return;
                connection->stream.async_read_some(asio::buffer(connection->buffer), [](std::error_code, std::size_t) {});
            });
        });
    }

    asio::io_context io_;
    std::shared_ptr<asio::ssl::context> context_;
    asio::ip::tcp::acceptor acceptor_;
    std::vector<std::shared_ptr<Connection>> connections_;
    std::thread thread_;
};

void BM_IdlePhoneMemoryBaselineMinimalTlsServer(benchmark::State& state) { measureIdlePhones<MinimalTlsServer>(state); }
BENCHMARK(BM_IdlePhoneMemoryBaselineMinimalTlsServer)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
