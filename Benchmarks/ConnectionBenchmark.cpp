// Connection set-up on loopback (accept, TLS handshake, first lines answered) and lines per
// second through the server's receive path.
#include <benchmark/benchmark.h>

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/read_until.hpp>
#include <asio/streambuf.hpp>
#include <asio/write.hpp>

#include "QuibHost/Server/HostServer.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/MainLoop.hpp"
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

struct Host {
    Host() {
        Logger::setSink(std::make_shared<NullSink>());
        asio::io_context io;
        asio::ip::tcp::acceptor probe(io, {asio::ip::tcp::v6(), 0});
        (void)settings->setInteger(ServerSettings::portKey, probe.local_endpoint().port());
        probe.close();
        auto clock = SystemClock::shared();
        auto registry = DeviceRegistry::create(main, settings, clock);
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
    std::shared_ptr<Settings> settings = Settings::inMemory();
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
