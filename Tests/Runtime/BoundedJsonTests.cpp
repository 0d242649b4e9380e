#include <gtest/gtest.h>

#include <string>
#include <utility>

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

// Containers inside containers share the builder's stacks: each must get exactly its own members
// and elements back, however they nest and whatever closed before them.
TEST(BoundedJson, NestedContainersGetTheirOwnMembersAndElements) {
    for (const char* text : {
             R"({"a":{"b":[1,{"c":[],"d":{}},[[2],[3,{"e":4,"e":5}]]],"f":{"g":[6]}},"h":[{},{"i":7}],"j":8})",
             R"([[],[{}],{"a":[{"b":[{"c":0}],"b":1}],"d":2},[[[3],4],5],6])",
             R"({"k0":0,"k1":1,"k2":2,"k3":3,"k4":4,"k5":5,"k6":6,"k7":7,"k8":8,"k9":9,"k10":10,"k11":11,)"
             R"("k12":12,"k13":13,"k14":14,"k15":15,"k16":{"k0":[0,{"k1":1,"k0":2}]},"k17":17,"k3":[3]})",
         }) {
        auto parsed = BoundedJson::parse(text);
        ASSERT_TRUE(parsed.ok()) << text;
        EXPECT_EQ(parsed->dump(), Json::parse(text).dump()) << text;
    }
}

TEST(BoundedJson, EachLimitFailsWithItsOwnWords) {
    const BoundedJson::Limits limits{.maxDepth = 3, .maxMembers = 2, .maxElements = 2, .maxValues = 9};
    const std::pair<const char*, const char*> cases[] = {
        {"[[[[]]]]", "The data nests deeper than 3 levels."},
        {R"({"a":{"b":1,"c":2,"d":3}})", "An object has more than 2 members."},
        {R"({"a":1,"a":2,"a":3})", "An object has more than 2 members."},  // a repeated key counts
        {R"([{"a":[1,2,3]}])", "An array has more than 2 elements."},
        {R"([[1,2],[3,4],{"a":5}])", "An array has more than 2 elements."},
        {R"([[1,2],{"a":[3,4],"b":[5]}])", "The data holds more than 9 values."},
        {R"({"a":[1,2],"b":{"c":)", "The given data was not valid JSON."},
    };
    for (const auto& [text, why] : cases) {
        auto parsed = BoundedJson::parse(text, limits);
        ASSERT_FALSE(parsed.ok()) << text;
        EXPECT_EQ(parsed.error().message, why) << text;
    }
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
