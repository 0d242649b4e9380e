// Connection set-up on loopback (accept, TLS handshake, first lines answered) and lines per
// second through the server's receive path.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/read_until.hpp>
#include <asio/streambuf.hpp>
#include <asio/write.hpp>

#include "QuibHost/Server/HostServer.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/MainLoop.hpp"
#include "Tests/Support/ChildProcess.hpp"
#include "Tests/Support/FreePort.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/SettablePermissions.hpp"
#include "Tests/Support/TestHost.hpp"

using namespace quib;

namespace {

constexpr const char* code = "ABCDEF";

class NullSink final : public LogSink {
public:
    void write(const LogRecord&) override {}
};

// A host on loopback. Kept on disk, its settings are written as a real host's are, and the phone
// "B-1" may be approved already.
struct Host {
    enum class Store { inMemory, onDisk };

    explicit Host(Store store = Store::inMemory, bool phoneApproved = false)
        : settings(store == Store::onDisk ? Settings::atPath(scratch.path / "defaults.json") : Settings::inMemory()) {
        Logger::setSink(std::make_shared<NullSink>());
        asio::io_context io;
        asio::ip::tcp::acceptor probe(io, {asio::ip::tcp::v6(), 0});
        (void)settings->setInteger(ServerSettings::portKey, probe.local_endpoint().port());
        probe.close();
        auto clock = SystemClock::shared();
        auto registry = DeviceRegistry::create(main, settings, clock);
        if (phoneApproved) (void)registry->approve("B-1", "Bench");
        main->runPending();
        server = HostServer::create(quib::testing::TestHost{.main = main,
                                                            .settings = settings,
                                                            .clock = clock,
                                                            .registry = registry,
                                                            .permissions = std::make_shared<SettablePermissions>(),
                                                            .dataHome = scratch.path}
                                        .serverConfig());
        server->start(code);
        port = server->inspect().listenerPort.value_or(0);
    }
    ~Host() {
        server->stop();
        main->runPending();
    }

    quib::testing::ScratchFolder scratch{"quib-bench"};
    std::shared_ptr<MainLoop> main = std::make_shared<MainLoop>();
    std::shared_ptr<Settings> settings;
    std::shared_ptr<HostServer> server;
    std::uint16_t port = 0;
};

// A blocking phone: connect, handshake, write lines, read lines.
struct Phone {
    explicit Phone(std::uint16_t port)
        : context(*QuibTransport::clientContext(QuibTransport::parameters(code, QuibTransport::Derivation::current()))),
          stream(io, *context) {
        stream.lowest_layer().connect({asio::ip::make_address("127.0.0.1"), port});
        (void)QuibTransport::applyTcpOptions(stream.lowest_layer());
        stream.handshake(asio::ssl::stream_base::client);
    }
    void write(const std::string& bytes) { asio::write(stream, asio::buffer(bytes)); }
    std::string readLine() {
        asio::read_until(stream, input, '\n');
        std::string line;
        std::istream(&input) >> line;
        input.consume(1);
        return line;
    }

    asio::io_context io;
    std::shared_ptr<asio::ssl::context> context;
    QuibTransport::Stream stream;
    asio::streambuf input;
};

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

const std::string hello = R"({"hello":{"_0":{"protocolVersion":23,"deviceName":"Bench","deviceID":"B-1"}}})" "\n";
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
    Host host(Host::Store::onDisk, true);
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

}  // namespace
