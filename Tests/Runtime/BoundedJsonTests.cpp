#include <gtest/gtest.h>

#include <string>

#include "Runtime/BoundedJson.hpp"

using namespace quib;
using Json = nlohmann::ordered_json;

namespace {

std::string nested(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

std::string objectWithMembers(std::size_t count) {
    std::string text = "{";
    for (std::size_t i = 0; i < count; ++i) text += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":0";
    return text + "}";
}

std::string arrayOfEmptyObjects(std::size_t count) {
    std::string text = "[";
    for (std::size_t i = 0; i < count; ++i) text += i ? ",{}" : "{}";
    return text + "]";
}

}  // namespace

TEST(BoundedJson, ReadsWhatThePlainParserReads) {
    const std::string text = R"({"b":[1,-2,3.5,"x",true,null,{"c":{}}],"a":18446744073709551615,"e":[]})";
    auto parsed = BoundedJson::parse(text);
    ASSERT_TRUE(parsed.ok()) << parsed.error().message;
    EXPECT_EQ(*parsed, Json::parse(text));
    EXPECT_EQ(parsed->dump(), text);  // member order as written
    for (const char* bad : {"", "{", "{\"a\":}", "[1,]", "{} {}", "nul", "\"\\ud800\""})
        EXPECT_FALSE(BoundedJson::parse(bad).ok()) << bad;
}

// The parser stops at a NUL byte as if the text ended there, so a first value followed by a NUL
// and anything else read as the first value alone.
TEST(BoundedJson, NulByteAnywhereFailsTheParse) {
    using namespace std::string_literals;
    for (const std::string& bad : {"{\"ping\":{\"nonce\":20}}\0{\"text\":1}"s, "{\"a\":1}\0"s, "\0{}"s, "[1,\0 2]"s}) {
        auto parsed = BoundedJson::parse(bad);
        ASSERT_FALSE(parsed.ok()) << parsed->dump();
        EXPECT_EQ(parsed.error().message, "The given data was not valid JSON.");
    }
}

// A deep tree used to be copied recursively whenever an object around it grew, which overflowed
// the stack: such text must fail before any of it is built.
TEST(BoundedJson, NestingBeyondTheLimitFailsBeforeBuilding) {
    EXPECT_TRUE(BoundedJson::parse(nested(64)).ok());
    EXPECT_FALSE(BoundedJson::parse(nested(65)).ok());
    const std::string hostile = "{\"a\":" + std::string(70000, '[') + std::string(70000, ']') + ",\"b\":0}";
    auto parsed = BoundedJson::parse(hostile);
    ASSERT_FALSE(parsed.ok());
    EXPECT_EQ(parsed.error().message, "The data nests deeper than 64 levels.");
}

TEST(BoundedJson, MembersAndElementsAreCapped) {
    const BoundedJson::Limits limits{.maxDepth = 8, .maxMembers = 3, .maxElements = 2, .maxValues = 8};
    EXPECT_TRUE(BoundedJson::parse(objectWithMembers(3), limits).ok());
    EXPECT_FALSE(BoundedJson::parse(objectWithMembers(4), limits).ok());
    EXPECT_TRUE(BoundedJson::parse("[[1,2],[3,4]]", limits).ok());
    EXPECT_FALSE(BoundedJson::parse("[1,2,3]", limits).ok());
    EXPECT_TRUE(BoundedJson::parse(R"([[1,2],{"a":[3,4]}])", limits).ok());  // eight values
    EXPECT_FALSE(BoundedJson::parse(R"([[1,2],{"a":[3,4],"b":5}])", limits).ok());

    EXPECT_TRUE(BoundedJson::parse(objectWithMembers(4096)).ok());
    EXPECT_FALSE(BoundedJson::parse(objectWithMembers(100000)).ok());
    EXPECT_TRUE(BoundedJson::parse(arrayOfEmptyObjects(65535)).ok());
    EXPECT_FALSE(BoundedJson::parse(arrayOfEmptyObjects(350000)).ok());
}

// Small objects are searched by scan, large ones through an index: both keep a repeated key at
// its first place with its last value, as the plain parser does.
TEST(BoundedJson, RepeatedKeyKeepsItsPlaceAndTakesTheLastValue) {
    auto small = BoundedJson::parse(R"({"a":1,"b":2,"a":3})");
    ASSERT_TRUE(small.ok());
    EXPECT_EQ(small->dump(), R"({"a":3,"b":2})");

    std::string large = objectWithMembers(40);
    large.insert(large.size() - 1, ",\"k0\":7,\"k39\":[1]");
    auto parsed = BoundedJson::parse(large);
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(parsed->size(), 40u);
    EXPECT_EQ(parsed->begin().key(), "k0");
    EXPECT_EQ((*parsed)["k0"], 7);
    EXPECT_EQ((*parsed)["k39"], Json::array({1}));
}
