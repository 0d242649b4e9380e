#include <gtest/gtest.h>

#include <string>

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

}  // namespace

TEST(PointerLineReader, ReadsPlainPointerLinesAsTheFullDecodeDoes) {
    for (const char* line : {
             R"({"move":{"dx":3.5,"dy":-1.25}})",
             R"({"move":{"dy":-7,"dx":18446744073709551615}})",  // either order, any number
             R"( { "scroll" : { "dx" : 0 , "dy" : -1e2 } } )",
             R"({"scrollPhase":{"_0":"momentumEnded"}})",
             R"({"pointAtPanel":{"x":-0.3,"y":1.7}})",
             R"({"click":{"clickCount":-9223372036854775808,"phase":"down","button":"middle"}})",
             R"({"click":{"button":"\u006ceft","phase":"up","clickCount":9223372036854775807}})",
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
             R"({"x":1,"move":{"dx":1,"dy":2}})"s,                  // unknown keys beside the case
             R"({"move":{"dx":1,"dy":2},"move":{"dx":3,"dy":4}})"s,  // the case twice
             R"({"move":{"dx":1,"dy":2,"dx":5}})"s,                 // a label twice
             R"({"move":{"dx":1,"dy":2,"z":0}})"s,                  // an unknown label
             R"({"move":{"dx":1}})"s, R"({"move":{"dx":1,"dy":null}})"s, R"({"move":{"dx":"1","dy":2}})"s,
             R"({"move":[1,2]})"s, R"({"move":{"dx":{},"dy":2}})"s, R"({"move":1})"s, R"([{"move":{}}])"s,
             R"({"click":{"button":"left","phase":"click","clickCount":2.0}})"s,
             R"({"click":{"button":"left","phase":"click","clickCount":9223372036854775808}})"s,
             R"({"click":{"button":"thumb","phase":"click","clickCount":1}})"s,
             R"({"click":{"button":"left","phase":1,"clickCount":1}})"s,
             R"({"scrollPhase":{"_0":"Began"}})"s, R"({"scrollPhase":{"_0":true}})"s,
             R"({"move":{"dx":1,"dy":2}} {})"s, R"({"move":{"dx":1e999,"dy":2}})"s, R"({"move":{"dx":1,"dy":2})"s,
             "{\"move\":{\"dx\":1,\"dy\":2}}\0{\"ping\":{\"nonce\":1}}"s, ""s,
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
