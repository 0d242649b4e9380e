// Decoding of client lines as a phone sends them, in lines per second and heap allocations per
// line. Pointer moves dominate a real session; the mix below is one typical second of use.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "Shared/ClientMessage.hpp"
#include "Shared/QuibCoder.hpp"

namespace {

std::atomic<std::int64_t> allocations{0};

void* countedAllocation(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}

}  // namespace

// Every heap allocation of the process goes through these, so the benchmark can count them.
void* operator new(std::size_t size) { return countedAllocation(size); }
void* operator new[](std::size_t size) { return countedAllocation(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

// Share of each kind of line in a typical session, out of 100.
std::vector<std::string> typicalMix() {
    std::vector<std::string> lines;
    auto add = [&](int count, const std::string& line) { lines.insert(lines.end(), count, line); };
    add(72, R"({"move":{"dx":3.5,"dy":-1.25}})");
    add(12, R"({"scroll":{"dx":0,"dy":-14.5}})");
    add(2, R"({"scrollPhase":{"_0":"began"}})");
    add(2, R"({"scrollPhase":{"_0":"ended"}})");
    add(4, R"({"click":{"button":"left","phase":"click","clickCount":1}})");
    add(1, R"({"pointAtPanel":{"x":0.4125,"y":0.73}})");
    add(3,
        R"({"text":{"_0":{"text":"run the tests again and fix what fails","targetID":"6F1E5A3C-0B7D-4E2A-9C1F-2D3E4F5A6B7C","submit":true}}})");
    add(2,
        R"({"key":{"_0":{"chord":{"key":"return","control":false,"option":false,"shift":false,"command":false,"repeatCount":1},"targetID":"6F1E5A3C-0B7D-4E2A-9C1F-2D3E4F5A6B7C"}}})");
    add(1, R"({"ping":{"nonce":9007199254740993}})");
    add(1, R"({"focus":{"targetID":"6F1E5A3C-0B7D-4E2A-9C1F-2D3E4F5A6B7C"}})");
    // Interleave so consecutive lines differ, as on a real connection.
    std::vector<std::string> mixed;
    for (std::size_t stride = 0; stride < 7; ++stride)
        for (std::size_t i = stride; i < lines.size(); i += 7) mixed.push_back(lines[i]);
    return mixed;
}

// Runs `read` over every line, counting lines per second, heap allocations per line and lines
// it could not read.
template <class Read>
void readLines(benchmark::State& state, const std::vector<std::string>& lines, Read read) {
    std::int64_t done = 0;
    std::int64_t failed = 0;
    const std::int64_t before = allocations.load();
    for (auto _ : state) {
        for (const auto& line : lines) {
            failed += read(line) ? 0 : 1;
            ++done;
        }
    }
    const auto counted = static_cast<double>(allocations.load() - before);
    if (failed) state.SkipWithError("a sample line failed to read");
    state.counters["lines/s"] = benchmark::Counter(static_cast<double>(done), benchmark::Counter::kIsRate);
    state.counters["allocs/line"] = counted / static_cast<double>(done);
}

bool decode(const std::string& line) {
    auto message = quib::QuibCoder::decode<quib::ClientMessage>(line);
    benchmark::DoNotOptimize(message);
    return message.ok();
}

// The baseline: a plain parse of the same line into a tree, with no bounds and no record built.
bool parseOnly(const std::string& line) {
    auto json = quib::Json::parse(line, nullptr, false);
    benchmark::DoNotOptimize(json);
    return !json.is_discarded();
}

void BM_DecodeTypicalMix(benchmark::State& state) { readLines(state, typicalMix(), decode); }
BENCHMARK(BM_DecodeTypicalMix);

void BM_ParseTypicalMixJsonOnly(benchmark::State& state) { readLines(state, typicalMix(), parseOnly); }
BENCHMARK(BM_ParseTypicalMixJsonOnly);

// The lines of the mix that are not pointer lines: read by building the tree.
std::vector<std::string> otherLinesOfTheMix() {
    std::vector<std::string> lines = typicalMix();
    std::erase_if(lines,
                  [](const std::string& line) { return quib::ClientMessage::readQuickly(line, {}).has_value(); });
    return lines;
}

void BM_DecodeOtherLinesOfTheMix(benchmark::State& state) { readLines(state, otherLinesOfTheMix(), decode); }
BENCHMARK(BM_DecodeOtherLinesOfTheMix);

void BM_ParseOtherLinesJsonOnly(benchmark::State& state) { readLines(state, otherLinesOfTheMix(), parseOnly); }
BENCHMARK(BM_ParseOtherLinesJsonOnly);

const std::vector<std::string> moveOnly{R"({"move":{"dx":3.5,"dy":-1.25}})"};

void BM_DecodeMoveOnly(benchmark::State& state) { readLines(state, moveOnly, decode); }
BENCHMARK(BM_DecodeMoveOnly);

void BM_ParseMoveJsonOnly(benchmark::State& state) { readLines(state, moveOnly, parseOnly); }
BENCHMARK(BM_ParseMoveJsonOnly);

// Lines a hostile peer may send, each about as long as a line may be (1 MiB). Each must be
// decoded or refused in well under 50 ms: the coder's lock is held meanwhile.
std::string pingWithMembers(std::size_t count) {
    std::string line = R"({"ping":{"nonce":1)";
    for (std::size_t i = 0; i < count; ++i) line += ",\"a" + std::to_string(i) + "\":0";
    return line + "}}";
}

std::string pingWithExtra(const std::string& value) { return R"({"ping":{"nonce":1,"x":)" + value + "}}"; }

std::string repeated(std::string_view item, std::size_t bytes) {
    std::string list;
    list.reserve(bytes + item.size());
    while (list.size() < bytes) list.append(list.empty() ? "" : ",").append(item);
    return list;
}

std::string objectWithMembers(std::size_t count) {
    std::string object = "{";
    for (std::size_t i = 0; i < count; ++i) object += (i ? ",\"" : "\"") + std::to_string(i) + "\":0";
    return object + "}";
}

constexpr std::size_t kMiB = 1 << 20;

void hostileLine(benchmark::State& state, const std::string& line) {
    std::int64_t refused = 0;
    for (auto _ : state) {
        auto message = quib::QuibCoder::decode<quib::ClientMessage>(line);
        refused += message.ok() ? 0 : 1;
        benchmark::DoNotOptimize(message);
    }
    state.counters["bytes"] = static_cast<double>(line.size());
    state.counters["refused"] = static_cast<double>(refused) / static_cast<double>(state.iterations());
}

}  // namespace

// 100,000 members in one object (about 800 KB): refused at the member limit.
BENCHMARK_CAPTURE(hostileLine, ManyKeysInOneObject, pingWithMembers(100000))->Unit(benchmark::kMillisecond);
// An array of 1 MiB of empty objects: refused at the element limit.
BENCHMARK_CAPTURE(hostileLine, ArrayOfEmptyObjects, pingWithExtra("[" + repeated("{}", kMiB) + "]"))
    ->Unit(benchmark::kMillisecond);
// Objects at the member limit, as many as fit in 1 MiB: refused at the value limit.
BENCHMARK_CAPTURE(hostileLine, ObjectsAtTheMemberLimit,
                  pingWithExtra("[" + repeated(objectWithMembers(4096), kMiB) + "]"))
    ->Unit(benchmark::kMillisecond);
// Arrays at the element limit, as many as fit in 1 MiB: refused at the value limit.
BENCHMARK_CAPTURE(hostileLine, ArraysAtTheElementLimit,
                  pingWithExtra("[" + repeated("[" + repeated("0", 2 * 65535) + "]", kMiB) + "]"))
    ->Unit(benchmark::kMillisecond);
// Nesting 500,000 deep: refused at the depth limit.
BENCHMARK_CAPTURE(hostileLine, DeepNesting, pingWithExtra(std::string(kMiB / 2, '[') + std::string(kMiB / 2, ']')))
    ->Unit(benchmark::kMillisecond);
// The most values a line may hold (100,000), in objects of two members, padded to 1 MiB.
BENCHMARK_CAPTURE(hostileLine, ValuesAtTheValueLimit,
                  pingWithExtra("[" + repeated(R"({"k":0,"l":0})", 33320 * 14) + "],\"y\":\"" +
                                std::string(kMiB - 33320 * 15, 'x') + "\""))
    ->Unit(benchmark::kMillisecond);
// A ping carrying one 1 MiB string.
BENCHMARK_CAPTURE(hostileLine, OneLongString, pingWithExtra("\"" + std::string(kMiB, 'x') + "\""))
    ->Unit(benchmark::kMillisecond);
