// A 4 kB text into a tmux pane: from the decoding of the phone's line to the router's receipt,
// through the router's control client and through one tmux run (its fallback), against tmux's
// own send-keys -l with the same text. All run on a tmux server of the benchmark's own, whose
// pane reads and drops what it is sent.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "Benchmarks/Support/PrivateTmux.hpp"
#include "Platform/Headless/HeadlessDesktop.hpp"
#include "QuibHost/Targets/EventInjector.hpp"
#include "QuibHost/Targets/TargetRouter.hpp"
#include "Runtime/SerialQueue.hpp"
#include "Shared/ClientMessage.hpp"
#include "Shared/QuibCoder.hpp"

namespace {

using quib::bench::PrivateTmux;

PrivateTmux& privateTmux() {
    static PrivateTmux tmux;
    return tmux;
}

// The id of the private server's one pane, which reads and drops what it is sent; empty without
// tmux.
const std::string& pane() {
    static const std::string id = [] {
        const auto& tmux = privateTmux();
        if (!tmux.startSession("cat > /dev/null")) return std::string();
        return tmux.output({"display-message", "-p", "-t", "bench:0.0", "#{pane_id}"}).value_or("");
    }();
    return id;
}

// 4,096 bytes of words, a line break every 64, so no line outgrows the pane's line editing.
std::string fourKilobytes() {
    std::string text;
    while (text.size() < 4096) text += (text.size() % 64 == 58) ? "tail.\n" : "word ";
    text.resize(4096);
    return text;
}

void deliverFromDecodeToReceipt(benchmark::State& state, std::shared_ptr<quib::TmuxControl> control) {
    if (pane().empty()) return state.SkipWithError("no tmux server");
    const auto desktop = quib::HeadlessDesktop::services();
    quib::TargetRouter router({.injector = quib::EventInjector::create({.desktop = desktop}),
                               .desktop = desktop,
                               .tmuxControl = std::move(control)});
    quib::QuibTarget target;
    target.id = "T1";
    target.name = "Work";
    target.kind = quib::QuibTarget::Kind::tmux;
    target.tmuxTarget = pane();
    const std::string line = *quib::QuibCoder::line(
        quib::ClientMessage{quib::ClientMessage::Text{quib::TextPayload{fourKilobytes(), "T1", false}}});
    // Every delivery runs where the server's do, on a queue labelled as its injection queue.
    quib::SerialQueue injection{std::string(quib::TargetRouterService::queueLabel)};
    (void)injection.sync([&] {
        for (auto _ : state) {
            auto message = quib::QuibCoder::decode<quib::ClientMessage>(line);
            const auto& payload = std::get<quib::ClientMessage::Text>(message->value)._0;
            const auto receipt = router.deliver(payload.text, target, payload.submit);
            if (!receipt.ok) return state.SkipWithError(receipt.message.c_str());
        }
    });
}

void BM_TextIntoPaneFromDecodeToReceipt(benchmark::State& state) {
    deliverFromDecodeToReceipt(state, std::make_shared<quib::TmuxControl>());
}
BENCHMARK(BM_TextIntoPaneFromDecodeToReceipt)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TextIntoPaneThroughOneRun(benchmark::State& state) { deliverFromDecodeToReceipt(state, nullptr); }
BENCHMARK(BM_TextIntoPaneThroughOneRun)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SendKeysLiteral(benchmark::State& state) {
    if (pane().empty()) return state.SkipWithError("no tmux server");
    const std::string text = fourKilobytes();
    for (auto _ : state) {
        if (!privateTmux().run({"send-keys", "-t", pane(), "-l", text})) return state.SkipWithError("send-keys failed");
    }
}
BENCHMARK(BM_SendKeysLiteral)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
