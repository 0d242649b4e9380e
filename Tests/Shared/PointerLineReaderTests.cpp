#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "Runtime/BoundedJson.hpp"
#include "Shared/PointerLineReader.hpp"
#include "Shared/QuibCoder.hpp"

using namespace quib;

namespace {

// The decode the quick reader stands in for: the whole tree, then the record.
Result<ClientMessage> decodeInFull(std::string_view line) {
    try {
        auto json = BoundedJson::parse(line);
        if (!json) return json.error();
        return ClientMessage::fromJson(*json);
    } catch (const CodingError& e) {
        return fail(e.what());
    }
}

std::string outcome(const Result<ClientMessage>& message) {
    if (!message) return "error: " + message.error().message;
    return QuibCoder::encode(*message).valueOr("(unwritable)");
}

// The quick reader either leaves the line alone or reads what the full decode reads, to the bit
// (the written form of a double tells every double apart, -0 from 0 too); and the coder answers
// as the full decode does, with its value or its error text. Whether the quick reader took it.
bool agreesWithTheFullDecode(const std::string& line) {
    const auto quick = PointerLineReader::read(line, BoundedJson::Limits{});
    const auto full = decodeInFull(line);
    if (quick) {
        EXPECT_EQ(outcome(*quick), outcome(full)) << testing::PrintToString(line);
    }
    EXPECT_EQ(outcome(QuibCoder::decode<ClientMessage>(line)), outcome(full)) << testing::PrintToString(line);
    return quick.has_value();
}

// Each pointer case in its plain form, its values as {0}, {1}, {2} in the order of its labels.
struct Template {
    std::vector<std::string> members;  // "\"label\":{n}"
    std::string name;
};

const std::vector<Template> pointerLines{
    {{R"("dx":{0})", R"("dy":{1})"}, "move"},
    {{R"("dx":{0})", R"("dy":{1})"}, "scroll"},
    {{R"("x":{0})", R"("y":{1})"}, "pointAtPanel"},
    {{R"("_0":"began")"}, "scrollPhase"},
    {{R"("button":"right")", R"("phase":"down")", R"("clickCount":{2})"}, "click"},
};

std::string fill(std::string text, const std::vector<std::string>& values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::string hole = "{" + std::to_string(i) + "}";
        for (auto at = text.find(hole); at != std::string::npos; at = text.find(hole))
            text.replace(at, hole.size(), values[i]);
    }
    return text;
}

std::string lineOf(const Template& t, const std::vector<std::string>& members, const std::vector<std::string>& values,
                   const std::string& gap = "") {
    std::string payload;
    for (const auto& member : members) payload += (payload.empty() ? "" : gap + "," + gap) + fill(member, values);
    return gap + "{" + gap + "\"" + t.name + "\"" + gap + ":" + gap + "{" + gap + payload + gap + "}" + gap + "}" + gap;
}

// Number forms the parser reads in its own ways: integers (as integers first, so "-0" is 0),
// fractions and exponents (correctly rounded), halfway cases, subnormals, numbers beyond a double,
// and text that is no JSON number.
const std::vector<std::string> numberForms{
    "0",
    "-0",
    "0.0",
    "-0.0",
    "0e0",
    "-0e-0",
    "1",
    "-1",
    "1.5",
    "-1.25",
    "1e2",
    "1E+2",
    "1e-2",
    "-1.25e-3",
    "0.1",
    "3.141592653589793238462643383279",
    "9007199254740993",
    "9007199254740995",
    "-9007199254740993",
    "1.00000000000000011102230246251565404236316680908203125",
    "1.00000000000000011102230246251565404236316680908203126",
    "9223372036854775807",
    "9223372036854775808",
    "-9223372036854775808",
    "-9223372036854775809",
    "18446744073709551615",
    "18446744073709551616",
    "99999999999999999999",
    "123456789012345678901234567890",
    "999999999999999999",
    "-999999999999999999",
    "1e308",
    "1.7976931348623157e308",
    "1.7976931348623159e308",
    "1e309",
    "-1e309",
    "2.2250738585072011e-308",
    "4.9406564584124654e-324",
    "2.4703282292062328e-324",
    "1e-320",
    "1e-400",
    "2.0",
    "1.0",
    "01",
    "-01",
    "1.",
    ".5",
    "+1",
    "1e",
    "1e+",
    "--1",
    "-",
    "0x10",
    "NaN",
    "Infinity",
    "1_0",
    "1.5.5",
    "true",
    "null",
    "\"1\"",
    "[1]",
    "{}",
};

}  // namespace

TEST(PointerLineReader, ReadsPlainPointerLinesAsTheFullDecodeDoes) {
    for (const char* line : {
             R"({"move":{"dx":3.5,"dy":-1.25}})",
             R"({"move":{"dy":-7,"dx":18446744073709551615}})",  // either order, any number
             R"( { "scroll" : { "dx" : 0 , "dy" : -1e2 } } )",
             R"({"scrollPhase":{"_0":"momentumEnded"}})",
             R"({"pointAtPanel":{"x":-0.3,"y":1.7}})",
             R"({"click":{"clickCount":-9223372036854775808,"phase":"down","button":"middle"}})",
             R"({"click":{"button":"left","phase":"up","clickCount":9223372036854775807}})",
         }) {
        auto quick = PointerLineReader::read(line, BoundedJson::Limits{});
        ASSERT_TRUE(quick.has_value()) << line;
        EXPECT_EQ(outcome(*quick), outcome(decodeInFull(line))) << line;
    }
}

// Each of these the full decode either reads in its own way or fails with its own words: the
// quick reader must leave them all to it, and the coder's answer must stay the full decode's.
TEST(PointerLineReader, LeavesEveryOtherLineToTheFullDecode) {
    using namespace std::string_literals;
    for (const std::string& line : {
             R"({"ping":{"nonce":1}})"s,
             R"({"x":1,"move":{"dx":1,"dy":2}})"s,                   // unknown keys beside the case
             R"({"move":{"dx":1,"dy":2},"move":{"dx":3,"dy":4}})"s,  // the case twice
             R"({"move":{"dx":1,"dy":2,"dx":5}})"s,                  // a label twice
             R"({"move":{"dx":1,"dy":2,"z":0}})"s,                   // an unknown label
             R"({"move":{"dx":1}})"s,
             R"({"move":{"dx":1,"dy":null}})"s,
             R"({"move":{"dx":"1","dy":2}})"s,
             R"({"move":[1,2]})"s,
             R"({"move":{"dx":{},"dy":2}})"s,
             R"({"move":1})"s,
             R"([{"move":{}}])"s,
             R"({"click":{"button":"left","phase":"click","clickCount":2.0}})"s,
             R"({"click":{"button":"left","phase":"click","clickCount":9223372036854775808}})"s,
             R"({"click":{"button":"thumb","phase":"click","clickCount":1}})"s,
             R"({"click":{"button":"left","phase":1,"clickCount":1}})"s,
             R"({"scrollPhase":{"_0":"Began"}})"s,
             R"({"scrollPhase":{"_0":true}})"s,
             R"({"click":{"button":"\u006ceft","phase":"up","clickCount":9223372036854775807}})"s,  // escaped
             R"({"move":{"dx":1,"dy":2}} {})"s,
             R"({"move":{"dx":1e999,"dy":2}})"s,
             R"({"move":{"dx":1,"dy":2})"s,
             "{\"move\":{\"dx\":1,\"dy\":2}}\0{\"ping\":{\"nonce\":1}}"s,
             ""s,
         }) {
        EXPECT_FALSE(PointerLineReader::read(line, BoundedJson::Limits{}).has_value()) << line;
        EXPECT_EQ(outcome(QuibCoder::decode<ClientMessage>(line)), outcome(decodeInFull(line))) << line;
    }
    // Limits too tight for a plain pointer line are the full decode's to apply.
    const std::string move = R"({"move":{"dx":1,"dy":2}})";
    for (const BoundedJson::Limits tight : {BoundedJson::Limits{.maxDepth = 1}, BoundedJson::Limits{.maxMembers = 1},
                                            BoundedJson::Limits{.maxValues = 3}}) {
        EXPECT_FALSE(PointerLineReader::read(move, tight).has_value());
        EXPECT_FALSE(QuibCoder::decode<ClientMessage>(move, tight).ok());
    }
}

TEST(PointerLineReader, AgreesWithTheFullDecodeOnEveryVariationOfEachPointerLine) {
    const std::vector<std::string> plainValues{"3.5", "-1.25", "2"};
    for (const Template& t : pointerLines) {
        std::vector<std::string> order = t.members;
        std::sort(order.begin(), order.end());
        do {  // every order of the labels is taken
            EXPECT_TRUE(agreesWithTheFullDecode(lineOf(t, order, plainValues)));
        } while (std::next_permutation(order.begin(), order.end()));
        for (const char* gap : {" ", "\t", "\n", "\r", " \r\n\t "})  // JSON's whitespace between any tokens is taken
            EXPECT_TRUE(agreesWithTheFullDecode(lineOf(t, t.members, plainValues, gap)));
        for (const std::string& number : numberForms) {
            agreesWithTheFullDecode(lineOf(t, t.members, {number, "1", "1"}));
            agreesWithTheFullDecode(lineOf(t, t.members, {"1", number, number}));
        }
        const std::string line = lineOf(t, t.members, plainValues);
        for (std::size_t at = 0; at <= line.size(); ++at) {
            agreesWithTheFullDecode(line.substr(0, at));  // truncated
            agreesWithTheFullDecode(line.substr(at));
            for (const char* extra : {" ", "\f", "\v", "\xc2\xa0", "\\", "\"", ",", "}", "x", "\xef\xbb\xbf"})
                agreesWithTheFullDecode(line.substr(0, at) + extra + line.substr(at));
            if (at == line.size()) continue;
            for (char bad :
                 {'\0', '\x01', '\x1f', '\x7f', '\x80', '\xff', '"', '\\', '{', '[', ':', '0', 'e', '-', '_'}) {
                std::string changed = line;
                changed[at] = bad;
                agreesWithTheFullDecode(changed);
            }
        }
        // Escapes in keys and in strings are the full decode's to read.
        for (std::size_t at = 0; (at = line.find('"', at)) != std::string::npos && at + 1 < line.size(); at += 2) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(line[at + 1]));
            std::string escaped = line;
            escaped.replace(at + 1, 1, escape);
            agreesWithTheFullDecode(escaped);
        }
    }
}

// Doubles from random bits, written in the usual forms and in a few unusual ones.
TEST(PointerLineReader, ReadsRandomNumbersToTheFullDecodesBits) {
    std::mt19937_64 random(58);
    std::uniform_int_distribution<int> exponent(-330, 330);
    for (int i = 0; i < 2000; ++i) {
        double value;
        do {
            const std::uint64_t bits = random();
            std::memcpy(&value, &bits, sizeof value);
        } while (!std::isfinite(value));
        char written[4][64];
        std::snprintf(written[0], sizeof written[0], "%.17g", value);
        std::snprintf(written[1], sizeof written[1], "%.25e", value);
        std::snprintf(written[2], sizeof written[2], "%.3e", value);
        std::snprintf(written[3], sizeof written[3], "%llue%d", static_cast<unsigned long long>(random() >> 1),
                      exponent(random));
        for (const char* number : written) {
            const std::string line = lineOf(pointerLines[0], pointerLines[0].members, {number, "0"});
            const bool taken = agreesWithTheFullDecode(line);
            EXPECT_TRUE(taken || std::string_view(number).find('e') != std::string_view::npos) << line;
        }
    }
}

TEST(PointerLineReader, AgreesWithTheFullDecodeOnEveryFuzzSeed) {
    std::size_t seeds = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(QUIB_FUZZ_SEEDS_DIR)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream file(entry.path(), std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        agreesWithTheFullDecode(text);
        ++seeds;
    }
    EXPECT_GT(seeds, 100u);
}
