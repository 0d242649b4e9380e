#include <gtest/gtest.h>

#include <set>
#include <string>
#include <variant>

#include "Shared/HostMessage.hpp"
#include "Shared/QuibCoder.hpp"

using namespace quib;

namespace {

using H = HostMessage;

Result<H> decode(std::string_view line) { return QuibCoder::decode<H>(line); }

std::string lineOf(const H& message) { return QuibCoder::line(message).valueOr("(failed)"); }

HostStatus sampleStatus() {
    HostStatus status;
    status.hostName = "Studio";
    status.protocolVersion = 23;
    status.activeTargetID = "T";
    status.unresolvedTargetIDs = {"U"};
    status.pushRelayConfigured = false;
    return status;
}

QuibTarget sampleTarget() {
    QuibTarget target;
    target.id = "T";
    target.name = "Editor";
    target.kind = QuibTarget::Kind::app;
    target.bundleID = "com.x";
    target.pinnedWindowID = 12;
    return target;
}

ApprovalRequest sampleRequest() {
    ApprovalRequest request;
    request.id = "R";
    request.targetID = "T";
    request.detail = "rm -rf build";
    request.kind = ApprovalRequest::Kind::command;
    request.createdAtEpochMillis = 1000;
    request.expiresAtEpochMillis = 121000;
    return request;
}

MacWindow sampleWindow() {
    MacWindow window;
    window.id = 77;
    window.title = "main.cpp";
    window.preview = Bytes{0xFF, 0xD8, 0xFF};
    return window;
}

// One message of every case, with payloads that use their optional fields.
std::vector<H> everyCase() {
    RemoteAccessPayload remote;
    remote.isEnabled = true;
    remote.candidates = {{"192.168.1.20", 61413, QuibCandidate::Reach::local, "this network"}};
    remote.keyIdentity = "quib.away.1.D";
    remote.keyMaterial = Bytes(32, 7);

    MacApp app;
    app.bundleID = "com.x";
    app.name = "X";
    app.icon = Bytes{1, 2, 3};

    return {
        H{H::Welcome{sampleStatus(), {sampleTarget()}}},
        H{H::Status{sampleStatus()}},
        H{H::Targets{{sampleTarget(), QuibTarget{}}}},
        H{H::Toast{"Saved \u201cEditor\u201d"}},
        H{H::Error{"Unknown target"}},
        H{H::Delivered{DeliveryReceipt{true, "T", "Editor", 5, true, "Sent"}}},
        H{H::AgentEvent{AgentEvent{"T", AgentEvent::Kind::failed, 1700000000000, "boom"}}},
        H{H::Vocabulary{VocabularyPayload{"T", {"quib", "LineFramer"}, 1, false}}},
        H{H::ApprovalRequest{sampleRequest()}},
        H{H::ApprovalResolved{ApprovalResolution{"R", ApprovalDecision::approve, ApprovalResolution::Reason::answered,
                                                 "Phone", 2000, "ok"}}},
        H{H::PendingApprovals{{sampleRequest(), sampleRequest()}}},
        H{H::Panes{{TmuxPane{"%1", "main:0.1", "zsh", "/home/u/src"}}}},
        H{H::Windows{WindowListPayload{"T", {sampleWindow()}, "note", 0, true}}},
        H{H::Apps{AppCatalogPayload{AppCatalogPayload::Purpose::icons, {app}, 2, true}}},
        H{H::Menu{MenuProfilePayload{"com.x", MenuProfilePayload::Outcome::notRunning, std::nullopt, "Not running"}}},
        H{H::UploadReady{"6F1C0E0A-0000-4000-8000-000000000001"}},
        H{H::Pong{UINT64_MAX, 123456789}},
        H{H::RemoteAccess{remote}},
    };
}

}  // namespace

TEST(HostMessage, EveryCaseRoundTripsThroughOneLine) {
    std::set<std::size_t> covered;
    for (const H& message : everyCase()) {
        const std::string line = lineOf(message);
        SCOPED_TRACE(line);
        ASSERT_EQ(line.find('\n'), line.size() - 1);
        auto decoded = decode(line);
        ASSERT_TRUE(decoded.ok()) << decoded.error().message;
        EXPECT_EQ(decoded->value.index(), message.value.index());
        EXPECT_EQ(lineOf(*decoded), line);
        covered.insert(message.value.index());
    }
    EXPECT_EQ(covered.size(), std::variant_size_v<H::Value>);
    EXPECT_EQ(std::variant_size_v<H::Value>, 18u);
}

TEST(HostMessage, WritesTheCaseKeyAndLabelsInOrder) {
    EXPECT_EQ(lineOf(H{H::Pong{7, 9}}), "{\"pong\":{\"nonce\":7,\"hostTime\":9}}\n");
    EXPECT_EQ(lineOf(H{H::Toast{"Saved"}}), "{\"toast\":{\"_0\":\"Saved\"}}\n");
    EXPECT_EQ(lineOf(H{H::UploadReady{"B"}}), "{\"uploadReady\":{\"batchID\":\"B\"}}\n");
    const std::string welcome = lineOf(H{H::Welcome{HostStatus{}, {}}});
    EXPECT_TRUE(welcome.starts_with("{\"welcome\":{\"status\":{"));
    EXPECT_TRUE(welcome.ends_with(",\"targets\":[]}}\n"));
}

TEST(HostMessage, PongNeedsBothValues) {
    EXPECT_FALSE(decode(R"({"pong":{"nonce":1}})").ok());
    EXPECT_FALSE(decode(R"({"pong":{"nonce":1,"hostTime":-5}})").ok());
    auto pong = decode(R"({"pong":{"nonce":1,"hostTime":2,"extra":true}})");
    ASSERT_TRUE(pong.ok());
    EXPECT_EQ(std::get<H::Pong>(pong->value).hostTime, 2u);
}

TEST(HostMessage, ExactlyOneCaseKeyAndTypedLabels) {
    const std::string oneKey = "Invalid number of keys found, expected one.";
    EXPECT_EQ(decode("{}").error().message, oneKey);
    EXPECT_EQ(decode(R"({"toast":{"_0":"a"},"error":{"_0":"b"}})").error().message, oneKey);
    EXPECT_EQ(decode(R"({"hello":{}})").error().message, oneKey);
    EXPECT_TRUE(decode(R"({"toast":{"_0":"a"},"sparkle":1})").ok());
    EXPECT_FALSE(decode(R"({"toast":{"_0":5}})").ok());
    EXPECT_FALSE(decode(R"({"toast":null})").ok());
    EXPECT_FALSE(decode(R"({"welcome":{"status":{}}})").ok());
    auto welcome = decode(R"({"welcome":{"status":{},"targets":[]}})");
    ASSERT_TRUE(welcome.ok());
    EXPECT_TRUE(std::get<H::Welcome>(welcome->value).targets.empty());
}

TEST(HostMessage, PayloadRecordsKeepTheirOwnTolerance) {
    auto windows = decode(R"({"windows":{"_0":{"targetID":"T","windows":[]}}})");
    ASSERT_TRUE(windows.ok());
    EXPECT_EQ(std::get<H::Windows>(windows->value)._0.sequence, 0);
    EXPECT_TRUE(std::get<H::Windows>(windows->value)._0.isFinal);
    EXPECT_FALSE(decode(R"({"delivered":{"_0":{"ok":true,"targetName":"E","submitted":false,"message":"m"}}})").ok());
    auto resolved =
        decode(R"({"approvalResolved":{"_0":{"requestID":"R","decision":"later","reason":"lost","atEpochMillis":1}}})");
    ASSERT_TRUE(resolved.ok());
    EXPECT_EQ(std::get<H::ApprovalResolved>(resolved->value)._0.decision, ApprovalDecision::deny);
    EXPECT_FALSE(
        decode(R"({"remoteAccess":{"_0":{"candidates":[{"host":"h","port":70000,"reach":"local","via":"v"}]}}})").ok());
}
