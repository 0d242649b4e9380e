// A phone adds a batch of app targets through the server, stored in a settings file on disk,
// beside adding a single one: the time per target. Meanwhile another phone pings the host and
// asks something of the main executor (removing a target that does not exist); how long those
// answers take shows whether the main executor stays free while a batch is stored.
//
// The store keeps at most 500 targets, so a batch of 2,000 adds 500 and refuses the rest.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <asio/io_context.hpp>
#include <asio/read_until.hpp>
#include <asio/streambuf.hpp>
#include <asio/write.hpp>
#include <chrono>
#include <future>
#include <thread>

#include "Benchmarks/LatencyCounters.hpp"
#include "Benchmarks/Support/BlockingPhone.hpp"
#include "Benchmarks/Support/NullSink.hpp"
#include "Platform/Freedesktop/DesktopEntries.hpp"
#include "Platform/Headless/HeadlessWorkspace.hpp"
#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Targets/TargetStore.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/MainLoop.hpp"
#include "Shared/ClientMessage.hpp"
#include "Tests/Support/FreePort.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/SettablePermissions.hpp"
#include "Tests/Support/TestHost.hpp"

using namespace quib;
using namespace std::chrono_literals;

namespace {

using quib::bench::NullSink;

constexpr const char* code = "ABCDEF";

// A server whose main executor runs on a thread of its own, as the host's main loop does.
struct Host {
    Host() {
        Logger::setSink(std::make_shared<NullSink>());
        quib::testing::writeFile(scratch.path / "applications" / "org.example.Editor.desktop",
                                 "[Desktop Entry]\nType=Application\nName=Editor\nExec=true\n");
        (void)settings->setInteger(ServerSettings::portKey, quib::testing::freePort());
        auto clock = SystemClock::shared();
        auto registry = DeviceRegistry::create(main, settings, clock);
        (void)registry->approve("B-1", "Adder");
        (void)registry->approve("B-2", "Bystander");
        main->runPending();  // approvals are made on the main executor
        const quib::testing::TestHost parts{.main = main,
                                            .settings = settings,
                                            .clock = clock,
                                            .registry = registry,
                                            .permissions = std::make_shared<SettablePermissions>(),
                                            .dataHome = scratch.path};
        auto apps = std::make_shared<DesktopEntries>(std::vector<std::filesystem::path>{scratch.path / "applications"});
        store = TargetStore::create(
            {.main = main,
             .settings = settings,
             .clock = clock,
             .log = std::make_shared<DeliveryLog>(DeliveryLog::Config{.dataHome = scratch.path, .clock = clock}),
             .apps = apps,
             .workspace = std::make_shared<HeadlessWorkspace>(apps)});
        server = HostServer::create(parts.serverConfig({.targets = store}));
        server->start(code);
        port = server->inspect().listenerPort.value_or(0);
        loop = std::thread([this] { main->run(); });
    }
    ~Host() {
        onMain([this] { server->stop(); });
        main->quit();
        loop.join();
        main->runPending();
    }

    // Runs `task` on the main executor and waits for it.
    void onMain(std::function<void()> task) {
        std::promise<void> done;
        main->post([&] {
            task();
            done.set_value();
        });
        done.get_future().wait();
    }
    void removeEveryTarget() {
        onMain([this] {
            std::set<std::string> ids;
            for (const auto& target : store->targets().value()) ids.insert(target.id);
            store->remove(ids);
        });
    }

    quib::testing::ScratchFolder scratch{"quib-bench-targets"};
    std::shared_ptr<MainLoop> main = std::make_shared<MainLoop>();
    std::shared_ptr<Settings> settings = Settings::atPath(scratch.path / "defaults.json");
    std::shared_ptr<TargetStore> store;
    std::shared_ptr<HostServer> server;
    std::uint16_t port = 0;
    std::thread loop;
};

// A blocking phone past its welcome.
struct Phone : quib::bench::BlockingPhone {
    Phone(std::uint16_t port, const std::string& deviceID) : BlockingPhone(port, code) {
        write(R"({"hello":{"_0":{"protocolVersion":23,"deviceName":"Bench","deviceID":")" + deviceID + "\"}}}\n");
        awaitLine("\"welcome\"");
    }
    // Reads lines until one holds `text`.
    void awaitLine(std::string_view text) {
        while (readLine().find(text) == std::string::npos) {}
    }
};

std::string batchOf(std::int64_t count) {
    ClientMessage::AddTargets batch;
    for (std::int64_t i = 0; i < count; ++i) {
        QuibTarget target;
        target.id = "B" + std::to_string(i);
        target.name = "Editor " + std::to_string(i);
        target.kind = QuibTarget::Kind::app;
        target.bundleID = "org.example.Editor";
        batch._0.push_back(std::move(target));
    }
    return *QuibCoder::line(ClientMessage{std::move(batch)});
}

// The adder's batch, answered by its toast ("Added …"): the list checked, stored and published.
void BM_AddTargetsInOneBatch(benchmark::State& state) {
    Host host;
    Phone adder(host.port, "B-1");
    const std::string batch = batchOf(state.range(0));
    for (auto _ : state) {
        adder.write(batch);
        adder.awaitLine("\"toast\"");
        state.PauseTiming();
        host.removeEveryTarget();
        adder.awaitLine("\"targets\"");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_AddTargetsInOneBatch)->Arg(1)->Arg(500)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();

// While the adder's batch is being stored, the bystander pings (answered on the network queue)
// and removes a target that does not exist (answered on the main executor) every 5 ms: p50_ms,
// p95_ms and p99_ms are the main executor's answers, ping_p50_ms and so on the pings'.
// Baseline: the same questions with no batch in flight.
void BM_BystanderWhileABatchIsAdded(benchmark::State& state) {
    Host host;
    Phone adder(host.port, "B-1");
    Phone bystander(host.port, "B-2");
    const std::string batch = batchOf(state.range(0));
    std::vector<double> pings, mains;
    const auto timed = [&](const std::string& line, std::string_view answer) {
        const auto start = std::chrono::steady_clock::now();
        bystander.write(line);
        bystander.awaitLine(answer);
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    };
    for (auto _ : state) {
        std::atomic<bool> added = state.range(0) == 0;
        std::thread adding;
        if (!added) {
            adding = std::thread([&] {
                adder.write(batch);
                adder.awaitLine("\"toast\"");
                added = true;
            });
        }
        do {
            const double ping = timed(R"({"ping":{"nonce":1}})"
                                      "\n",
                                      "\"pong\"");
            const double main = timed(R"({"removeTarget":{"id":"NONE"}})"
                                      "\n",
                                      "no longer exists");
            pings.push_back(ping);
            mains.push_back(main);
            std::this_thread::sleep_for(5ms);
        } while (!added);
        if (adding.joinable()) adding.join();
        state.PauseTiming();
        host.removeEveryTarget();
        if (state.range(0) > 0) adder.awaitLine("\"targets\"");
        state.ResumeTiming();
    }
    quib::bench::reportLatencies(state, pings);
    for (const std::string rank : {"p50_ms", "p95_ms", "p99_ms"}) state.counters["ping_" + rank] = state.counters[rank];
    quib::bench::reportLatencies(state, mains);
}
BENCHMARK(BM_BystanderWhileABatchIsAdded)->Arg(0)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
