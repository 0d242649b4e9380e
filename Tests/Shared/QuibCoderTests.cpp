#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "Shared/MessageShape.hpp"
#include "Shared/QuibCoder.hpp"
#include "Shared/QuibProtocol.hpp"
#include "Shared/QuibTarget.hpp"

using namespace quib;

namespace {

// A tiny message enumeration, enough to exercise the one-key shape.
struct DemoMessage {
    static constexpr std::array<std::string_view, 2> kCases{"ping", "requestPanes"};
    std::string name;
    std::optional<std::uint64_t> nonce;

    static DemoMessage fromJson(const Json& json) {
        const auto c = messageCase(json, kCases);
        DemoMessage m{std::string(c.name), std::nullopt};
        if (c.name == "ping") m.nonce = JsonReader(c.payload).required<std::uint64_t>("nonce");
        return m;
    }
    Json toJson() const {
        JsonWriter w;
        if (nonce) w.put("nonce", *nonce);
        return messageJson(name, w.take());
    }
    bool operator==(const DemoMessage&) const = default;
};

struct Measurement {
    double value = 0;
    static Measurement fromJson(const Json& json) { return {JsonReader(json).required<double>("value")}; }
    Json toJson() const { return JsonWriter().put("value", value).take(); }
};

struct Label {
    std::string text;
    static Label fromJson(const Json& json) { return {JsonReader(json).required<std::string>("text")}; }
    Json toJson() const { return JsonWriter().put("text", text).take(); }
};

}  // namespace

TEST(QuibProtocol, SupportsExactlyTheServedVersions) {
    EXPECT_FALSE(QuibProtocol::supports(4));
    EXPECT_TRUE(QuibProtocol::supports(5));
    EXPECT_TRUE(QuibProtocol::supports(23));
    EXPECT_FALSE(QuibProtocol::supports(24));
}

TEST(QuibCoder, OneKeyRule) {
    const std::string oneKey = "Invalid number of keys found, expected one.";
    for (const char* text : {"{}", "{\"note\":1}", "{\"ping\":{\"nonce\":7},\"requestPanes\":{}}"}) {
        auto r = QuibCoder::decode<DemoMessage>(text);
        ASSERT_FALSE(r.ok()) << text;
        EXPECT_EQ(r.error().message, oneKey) << text;
    }
    auto ping = QuibCoder::decode<DemoMessage>("{\"ping\":{\"nonce\":7},\"note\":1}");
    ASSERT_TRUE(ping.ok());
    EXPECT_EQ(ping->nonce, 7u);
    EXPECT_FALSE(QuibCoder::decode<DemoMessage>("{\"requestPanes\":null}").ok());
    EXPECT_FALSE(QuibCoder::decode<DemoMessage>("[1]").ok());
    EXPECT_FALSE(QuibCoder::decode<DemoMessage>("not json").ok());
    EXPECT_TRUE(QuibCoder::decode<DemoMessage>("{\"requestPanes\":{\"x\":1}}").ok());
}

TEST(QuibCoder, IntegersMustFitTheirWidth) {
    EXPECT_TRUE(QuibCoder::decode<DemoMessage>("{\"ping\":{\"nonce\":18446744073709551615}}").ok());
    EXPECT_FALSE(QuibCoder::decode<DemoMessage>("{\"ping\":{\"nonce\":-1}}").ok());
    EXPECT_FALSE(QuibCoder::decode<DemoMessage>("{\"ping\":{\"nonce\":1.5}}").ok());
    EXPECT_FALSE(QuibCoder::decode<DemoMessage>("{\"ping\":{\"nonce\":true}}").ok());
    EXPECT_FALSE(QuibCoder::decode<DemoMessage>("{\"ping\":{\"nonce\":\"7\"}}").ok());
    EXPECT_FALSE(QuibCoder::decode<DemoMessage>("{\"ping\":{}}").ok());
}

TEST(QuibCoder, LineEndsInExactlyOneLineFeedAndDecodesBack) {
    const DemoMessage message{"ping", 42};
    auto line = QuibCoder::line(message);
    ASSERT_TRUE(line.ok());
    EXPECT_EQ(*line, "{\"ping\":{\"nonce\":42}}\n");
    auto back = QuibCoder::decode<DemoMessage>(*line);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(*back, message);

    QuibTarget target = QuibTarget::fromJson(Json::object());
    target.name = "line\nbreak\r";
    auto targetLine = QuibCoder::line(target);
    ASSERT_TRUE(targetLine.ok());
    EXPECT_EQ(std::count(targetLine->begin(), targetLine->end(), '\n'), 1);
    EXPECT_EQ(targetLine->back(), '\n');
    EXPECT_EQ(*QuibCoder::decode<QuibTarget>(*targetLine), target);
}

TEST(QuibCoder, NonFiniteNumberFailsTheEncode) {
    EXPECT_FALSE(QuibCoder::encode(Measurement{std::nan("")}).ok());
    EXPECT_FALSE(QuibCoder::line(Measurement{INFINITY}).ok());
    EXPECT_EQ(*QuibCoder::encode(Measurement{1.5}), "{\"value\":1.5}");
}

TEST(QuibCoder, InvalidUtf8IsReplacedNotFatal) {
    auto text = QuibCoder::encode(Label{"ok \xFF\xFE end"});
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(*text, "{\"text\":\"ok \xEF\xBF\xBD\xEF\xBF\xBD end\"}");
}

// A record that, while it is being converted, asks from another thread whether the coder's lock
// is free: it must never be, or converters would run side by side.
struct LockProbe {
    static inline std::atomic<int> sawLockFree{0};

    static void probe() {
        std::thread([] {
            if (QuibCoder::lock().try_lock()) {
                ++sawLockFree;
                QuibCoder::lock().unlock();
            }
        }).join();
    }
    static LockProbe fromJson(const Json&) {
        probe();
        return {};
    }
    Json toJson() const {
        probe();
        return Json::object();
    }
};

TEST(QuibCoder, EveryEncodeAndDecodeHoldsTheProcessWideLock) {
    LockProbe::sawLockFree = 0;
    EXPECT_TRUE(QuibCoder::encode(LockProbe{}).ok());
    EXPECT_TRUE(QuibCoder::line(LockProbe{}).ok());
    EXPECT_TRUE(QuibCoder::decode<LockProbe>("{}").ok());
    EXPECT_EQ(LockProbe::sawLockFree.load(), 0);
    // Released once the coder is done.
    if (!QuibCoder::lock().try_lock()) FAIL() << "the coder still holds its lock";
    QuibCoder::lock().unlock();
}

TEST(QuibCoder, HostileTextFailsAsUnreadableInsteadOfCrashing) {
    const std::string deep =
        "{\"ping\":{\"nonce\":1,\"a\":" + std::string(70000, '[') + std::string(70000, ']') + ",\"b\":0}}";
    EXPECT_FALSE(QuibCoder::decode<DemoMessage>(deep).ok());
    std::string manyKeys = "{\"ping\":{\"nonce\":1";
    for (int i = 0; i < 100000; ++i) manyKeys += ",\"a" + std::to_string(i) + "\":0";
    manyKeys += "}}";
    EXPECT_FALSE(QuibCoder::decode<DemoMessage>(manyKeys).ok());
}
