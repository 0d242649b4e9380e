#include <gtest/gtest.h>

#include "Shared/AttachmentManifest.hpp"
#include "Shared/ListenHelloPayload.hpp"
#include "Shared/QuibCoder.hpp"
#include "Shared/StillRequest.hpp"
#include "Shared/ViewHelloPayload.hpp"

using namespace quib;

TEST(AttachmentManifest, EmptyObjectTakesEveryDefault) {
    auto m = QuibCoder::decode<AttachmentManifest>("{}");
    ASSERT_TRUE(m.ok());
    EXPECT_EQ(m->protocolVersion, 23);
    EXPECT_EQ(m->deviceName, "iPhone");
    EXPECT_EQ(m->deviceID, "");
    EXPECT_TRUE(m->targetIDs.empty());
    EXPECT_EQ(m->text, "");
    EXPECT_FALSE(m->submit);
    EXPECT_EQ(m->count, 0);
    EXPECT_FALSE(m->followChord);
}

TEST(AttachmentManifest, NullIsAbsentAndWrongTypesFail) {
    EXPECT_FALSE(QuibCoder::decode<AttachmentManifest>(R"({"submit":null})")->submit);
    EXPECT_FALSE(QuibCoder::decode<AttachmentManifest>(R"({"count":"2"})").ok());
    EXPECT_FALSE(QuibCoder::decode<AttachmentManifest>(R"({"deviceName":7})").ok());
    EXPECT_FALSE(QuibCoder::decode<AttachmentManifest>(R"({"targetIDs":["a",1]})").ok());
}

TEST(AttachmentManifest, RoundTripsWithAFollowChord) {
    auto m = QuibCoder::decode<AttachmentManifest>(
        R"({"deviceID":"D","targetIDs":["a","b"],"text":"hi","submit":false,"count":2,"followChord":{"key":"return","command":true}})");
    ASSERT_TRUE(m.ok());
    ASSERT_TRUE(m->followChord);
    EXPECT_EQ(m->followChord->key, "return");
    EXPECT_TRUE(m->followChord->command);
    EXPECT_EQ(m->submit, false);
    EXPECT_EQ(QuibCoder::decode<AttachmentManifest>(*QuibCoder::encode(*m)).value(), *m);
    // Absent optionals are left out.
    EXPECT_EQ(QuibCoder::encode(AttachmentManifest{})->find("submit"), std::string::npos);
}

TEST(StillRequest, EmptyObjectTakesEveryDefault) {
    auto r = QuibCoder::decode<StillRequest>("{}");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r, (StillRequest{23, "iPhone", "", "", 2576}));
    EXPECT_FALSE(QuibCoder::decode<StillRequest>(R"({"maxLongEdge":1.5})").ok());
    EXPECT_EQ(*QuibCoder::encode(*r),
              R"({"protocolVersion":23,"deviceName":"iPhone","deviceID":"","targetID":"","maxLongEdge":2576})");
}

TEST(ViewHelloPayload, RequiredKeysAndOptionalCrop) {
    const char* full = R"({"protocolVersion":23,"deviceName":"P","deviceID":"D","maxWidth":800,"maxHeight":600)";
    auto plain = QuibCoder::decode<ViewHelloPayload>(std::string(full) + "}");
    ASSERT_TRUE(plain.ok());
    EXPECT_FALSE(plain->crop);
    EXPECT_FALSE(QuibCoder::decode<ViewHelloPayload>(std::string(full) + R"(,"crop":null})")->crop);

    auto cropped =
        QuibCoder::decode<ViewHelloPayload>(std::string(full) + R"(,"crop":{"x":0.5,"y":0,"width":0.5,"height":1}})");
    ASSERT_TRUE(cropped.ok());
    EXPECT_EQ(cropped->crop, (UnitRect{0.5, 0, 0.5, 1}));
    EXPECT_EQ(QuibCoder::decode<ViewHelloPayload>(*QuibCoder::encode(*cropped)).value(), *cropped);

    EXPECT_FALSE(QuibCoder::decode<ViewHelloPayload>(std::string(full) + R"(,"crop":{"x":0,"y":0,"width":1}})").ok());
    EXPECT_FALSE(
        QuibCoder::decode<ViewHelloPayload>(R"({"protocolVersion":23,"deviceName":"P","deviceID":"D","maxWidth":800})")
            .ok());
    EXPECT_FALSE(
        QuibCoder::decode<ViewHelloPayload>(R"({"deviceName":"P","deviceID":"D","maxWidth":8,"maxHeight":6})").ok());
}

TEST(ListenHelloPayload, RequiredKeysAndOptionalPause) {
    auto hello = QuibCoder::decode<ListenHelloPayload>(R"({"protocolVersion":23,"deviceName":"P","deviceID":"D"})");
    ASSERT_TRUE(hello.ok());
    EXPECT_FALSE(hello->paused);
    EXPECT_FALSE(hello->isPaused());
    EXPECT_TRUE(
        QuibCoder::decode<ListenHelloPayload>(R"({"protocolVersion":23,"deviceName":"P","deviceID":"D","paused":true})")
            ->isPaused());
    EXPECT_FALSE(QuibCoder::decode<ListenHelloPayload>(R"({"protocolVersion":23,"deviceName":"P"})").ok());
    EXPECT_FALSE(
        QuibCoder::decode<ListenHelloPayload>(R"({"protocolVersion":23,"deviceName":"P","deviceID":"D","paused":"no"})")
            .ok());
    EXPECT_EQ(*QuibCoder::encode(*hello), R"({"protocolVersion":23,"deviceName":"P","deviceID":"D"})");
}
