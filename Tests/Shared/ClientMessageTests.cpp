#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <variant>

#include "Shared/ClientMessage.hpp"
#include "Shared/QuibCoder.hpp"

using namespace quib;

namespace {

using M = ClientMessage;

template <class Case>
constexpr std::size_t indexOf() {
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
        std::size_t found = 0;
        ((std::is_same_v<Case, std::variant_alternative_t<I, M::Value>> ? (found = I, 0) : 0), ...);
        return found;
    }
    (std::make_index_sequence<std::variant_size_v<M::Value>>{});
}

Result<M> decode(std::string_view line) { return QuibCoder::decode<M>(line); }

template <class Case>
Case decodeAs(std::string_view line) {
    auto message = decode(line);
    EXPECT_TRUE(message.ok()) << line << ": " << (message.ok() ? "" : message.error().message);
    if (!message.ok() || !std::holds_alternative<Case>(message->value)) {
        ADD_FAILURE() << line << " did not decode as " << Case::name;
        return Case{};
    }
    return std::get<Case>(message->value);
}

std::string errorOf(std::string_view line) {
    auto message = decode(line);
    return message.ok() ? "(decoded)" : message.error().message;
}

std::string lineOf(const M& message) { return QuibCoder::line(message).valueOr("(failed)"); }

struct Sample {
    std::size_t index;
    const char* line;
    bool canonical;  // the line is exactly what the encoder writes back
};

// One line per case, most in the encoder's own form; records with defaults are given short.
const Sample kSamples[] = {
    {indexOf<M::Hello>(), R"({"hello":{"_0":{"protocolVersion":23,"deviceName":"Pixel","deviceID":"D-1"}}})", true},
    {indexOf<M::Move>(), R"({"move":{"dx":3.5,"dy":-1.0}})", true},
    {indexOf<M::Scroll>(), R"({"scroll":{"dx":0.0,"dy":-12.25}})", true},
    {indexOf<M::ScrollPhase>(), R"({"scrollPhase":{"_0":"momentumBegan"}})", true},
    {indexOf<M::PointAtPanel>(), R"({"pointAtPanel":{"x":0.25,"y":1.0}})", true},
    {indexOf<M::Click>(), R"({"click":{"button":"right","phase":"click","clickCount":2}})", true},
    {indexOf<M::Text>(), R"({"text":{"_0":{"text":"héllo \"q\"\n","targetID":"T","submit":false}}})", true},
    {indexOf<M::Focus>(), R"({"focus":{"targetID":"T"}})", true},
    {indexOf<M::Key>(), R"({"key":{"_0":{"key":"paste","targetID":"T"}}})", false},
    {indexOf<M::RequestVocabulary>(), R"({"requestVocabulary":{"targetID":"T"}})", true},
    {indexOf<M::AddTarget>(), R"({"addTarget":{"_0":{"id":"A","name":"Editor","kind":"app","bundleID":"com.x"}}})",
     false},
    {indexOf<M::UpdateTarget>(), R"({"updateTarget":{"_0":{"id":"A","kind":"tmux","tmuxTarget":"%3"}}})", false},
    {indexOf<M::AddTargets>(), R"({"addTargets":{"_0":[{"id":"A"},{"id":"B","pinnedWindowID":7}]}})", false},
    {indexOf<M::RemoveTarget>(), R"({"removeTarget":{"id":"A"}})", true},
    {indexOf<M::ReorderTargets>(), R"({"reorderTargets":{"ids":["B","A"]}})", true},
    {indexOf<M::RequestPanes>(), R"({"requestPanes":{}})", true},
    {indexOf<M::RequestApps>(), R"({"requestApps":{"refresh":false}})", true},
    {indexOf<M::RequestWindows>(), R"({"requestWindows":{"targetID":"T"}})", true},
    {indexOf<M::FocusWindow>(), R"({"focusWindow":{"targetID":"T","windowID":4294967295}})", true},
    {indexOf<M::OpenWindow>(), R"({"openWindow":{"targetID":"T","windowID":0}})", true},
    {indexOf<M::RequestAppIcons>(), R"({"requestAppIcons":{"bundleIDs":[]}})", true},
    {indexOf<M::RequestMenu>(), R"({"requestMenu":{"bundleID":"com.x","refresh":true}})", true},
    {indexOf<M::AgentEvent>(),
     R"({"agentEvent":{"_0":{"targetID":"T","kind":"waiting","atEpochMillis":1700000000000,"note":"n"}}})", true},
    {indexOf<M::RequestApproval>(),
     R"({"requestApproval":{"_0":{"id":"R","title":"Run ls","createdAtEpochMillis":5}}})", false},
    {indexOf<M::ApprovalDecision>(), R"({"approvalDecision":{"id":"R","decision":"approve","reason":"fine"}})", true},
    {indexOf<M::RequestPendingApprovals>(), R"({"requestPendingApprovals":{}})", true},
    {indexOf<M::ViewHello>(),
     R"({"viewHello":{"_0":{"protocolVersion":23,"deviceName":"P","deviceID":"D","maxWidth":1170,"maxHeight":2532,"crop":{"x":0.0,"y":0.5,"width":1.0,"height":0.5}}}})",
     true},
    {indexOf<M::UploadHello>(), R"({"uploadHello":{"_0":{"deviceID":"D","targetIDs":["T"],"count":1}}})", false},
    {indexOf<M::StillHello>(),
     R"({"stillHello":{"_0":{"protocolVersion":23,"deviceName":"P","deviceID":"D","targetID":"T","maxLongEdge":1024}}})",
     true},
    {indexOf<M::ListenHello>(),
     R"({"listenHello":{"_0":{"protocolVersion":23,"deviceName":"P","deviceID":"D","paused":true}}})", true},
    {indexOf<M::Ping>(), R"({"ping":{"nonce":18446744073709551615}})", true},
    {indexOf<M::RequestRemoteAccess>(), R"({"requestRemoteAccess":{}})", true},
    {indexOf<M::RegisterPush>(),
     R"({"registerPush":{"_0":{"token":"ab12","settings":{"done":true,"mutedTargetIDs":["T"]}}}})", false},
};

}  // namespace

TEST(ClientMessage, EveryCaseRoundTripsThroughOneLine) {
    std::set<std::size_t> covered;
    for (const auto& sample : kSamples) {
        SCOPED_TRACE(sample.line);
        auto first = decode(sample.line);
        ASSERT_TRUE(first.ok()) << first.error().message;
        EXPECT_EQ(first->value.index(), sample.index);
        covered.insert(first->value.index());

        const std::string line = lineOf(*first);
        ASSERT_EQ(line.find('\n'), line.size() - 1);
        if (sample.canonical) {
            EXPECT_EQ(line, std::string(sample.line) + "\n");
        }

        auto second = decode(line);
        ASSERT_TRUE(second.ok()) << second.error().message;
        EXPECT_EQ(second->value.index(), sample.index);
        EXPECT_EQ(lineOf(*second), line);
    }
    EXPECT_EQ(covered.size(), std::variant_size_v<M::Value>);
    EXPECT_EQ(std::variant_size_v<M::Value>, 33u);
}

TEST(ClientMessage, ExactlyOneCaseKeyMustBePresent) {
    const std::string oneKey = "Invalid number of keys found, expected one.";
    EXPECT_EQ(errorOf(R"({"ping":{"nonce":7},"move":{"dx":1,"dy":2}})"), oneKey);
    EXPECT_EQ(errorOf(R"({"ping":{"nonce":7},"requestPanes":{}})"), oneKey);
    EXPECT_EQ(errorOf("{}"), oneKey);
    EXPECT_EQ(errorOf(R"({"note":1})"), oneKey);
    EXPECT_EQ(errorOf(R"({"requestCoffee":{}})"), oneKey);
    EXPECT_EQ(decodeAs<M::Ping>(R"({"ping":{"nonce":7},"note":1})").nonce, 7u);
    EXPECT_FALSE(decode(R"([{"ping":{"nonce":7}}])").ok());
    EXPECT_FALSE(decode(R"({"ping":{"nonce":7})").ok());
}

TEST(ClientMessage, TheCaseValueMustBeAnObjectWhoseUnknownKeysAreIgnored) {
    EXPECT_FALSE(decode(R"({"requestPanes":null})").ok());
    EXPECT_FALSE(decode(R"({"requestPanes":true})").ok());
    EXPECT_FALSE(decode(R"({"requestPanes":[]})").ok());
    decodeAs<M::RequestPanes>(R"({"requestPanes":{"x":1}})");
    EXPECT_EQ(decodeAs<M::Focus>(R"({"focus":{"targetID":"T","extra":[1,2]}})").targetID, "T");
}

TEST(ClientMessage, RequiredValuesHaveNoDefault) {
    EXPECT_EQ(errorOf(R"({"focus":{}})"), "No value associated with key \"targetID\".");
    EXPECT_EQ(errorOf(R"({"text":{}})"), "No value associated with key \"_0\".");
    EXPECT_FALSE(decode(R"({"requestApps":{}})").ok());
    EXPECT_FALSE(decode(R"({"requestApps":{"refresh":null}})").ok());
    EXPECT_FALSE(decode(R"({"requestApps":{"refresh":0}})").ok());
    EXPECT_FALSE(decode(R"({"requestMenu":{"bundleID":"com.x"}})").ok());
    EXPECT_FALSE(decode(R"({"click":{"button":"left","phase":"down"}})").ok());
    EXPECT_FALSE(decode(R"({"ping":{}})").ok());
    EXPECT_FALSE(decode(R"({"move":{"dx":1}})").ok());
    EXPECT_FALSE(decode(R"({"move":{"dx":"1","dy":2}})").ok());
    EXPECT_FALSE(decode(R"({"reorderTargets":{"ids":["A",2]}})").ok());
    EXPECT_FALSE(decodeAs<M::RequestApps>(R"({"requestApps":{"refresh":false}})").refresh);
    // Whole numbers read as numbers.
    EXPECT_EQ(decodeAs<M::Move>(R"({"move":{"dx":3,"dy":-1}})").dx, 3.0);
}

TEST(ClientMessage, EnumerationPayloadsMustNameACase) {
    EXPECT_FALSE(decode(R"({"click":{"button":"Left","phase":"down","clickCount":1}})").ok());
    EXPECT_FALSE(decode(R"({"click":{"button":"left","phase":"press","clickCount":1}})").ok());
    EXPECT_FALSE(decode(R"({"scrollPhase":{"_0":"changed"}})").ok());
    EXPECT_EQ(decodeAs<M::ScrollPhase>(R"({"scrollPhase":{"_0":"ended"}})")._0, ScrollGesturePhase::ended);
}

TEST(ClientMessage, WindowNumbersAreOptionalAndThirtyTwoBits) {
    EXPECT_FALSE(decodeAs<M::OpenWindow>(R"({"openWindow":{"targetID":"T"}})").windowID);
    EXPECT_FALSE(decodeAs<M::OpenWindow>(R"({"openWindow":{"targetID":"T","windowID":null}})").windowID);
    EXPECT_EQ(decodeAs<M::FocusWindow>(R"({"focusWindow":{"targetID":"T","windowID":4294967295}})").windowID,
              4294967295u);
    EXPECT_FALSE(decode(R"({"openWindow":{"targetID":"T","windowID":-1}})").ok());
    EXPECT_FALSE(decode(R"({"openWindow":{"targetID":"T","windowID":4294967296}})").ok());
    EXPECT_FALSE(decode(R"({"focusWindow":{"targetID":"T","windowID":1.5}})").ok());
    EXPECT_FALSE(decode(R"({"focusWindow":{"targetID":"T","windowID":"7"}})").ok());

    EXPECT_EQ(lineOf(M{M::FocusWindow{"T", std::nullopt}}), "{\"focusWindow\":{\"targetID\":\"T\"}}\n");
    EXPECT_EQ(lineOf(M{M::RequestRemoteAccess{}}), "{\"requestRemoteAccess\":{}}\n");
}

TEST(ClientMessage, NoncesUseTheWholeUnsignedRange) {
    EXPECT_EQ(decodeAs<M::Ping>(R"({"ping":{"nonce":18446744073709551615}})").nonce, UINT64_MAX);
    EXPECT_EQ(decodeAs<M::Ping>(R"({"ping":{"nonce":0}})").nonce, 0u);
    EXPECT_FALSE(decode(R"({"ping":{"nonce":18446744073709551616}})").ok());
    EXPECT_FALSE(decode(R"({"ping":{"nonce":-1}})").ok());
}

TEST(ClientMessage, ApprovalDecisionIsStrictWhereTheRecordsAreTolerant) {
    auto decision = decodeAs<M::ApprovalDecision>(R"({"approvalDecision":{"id":"R","decision":"deny"}})");
    EXPECT_EQ(decision.decision, ApprovalDecision::deny);
    EXPECT_FALSE(decision.reason);
    EXPECT_FALSE(
        decodeAs<M::ApprovalDecision>(R"({"approvalDecision":{"id":"R","decision":"approve","reason":null}})").reason);
    EXPECT_FALSE(decode(R"({"approvalDecision":{"id":"R","decision":"maybe"}})").ok());
    EXPECT_FALSE(decode(R"({"approvalDecision":{"id":"R","decision":"Approve"}})").ok());
    EXPECT_FALSE(decode(R"({"approvalDecision":{"id":"R"}})").ok());
    // The same unknown word inside a request's onExpiry only falls back to deny.
    EXPECT_EQ(decodeAs<M::RequestApproval>(R"({"requestApproval":{"_0":{"onExpiry":"maybe"}}})")._0.onExpiry,
              ApprovalDecision::deny);
}

TEST(ClientMessage, PayloadRecordsDecodeByTheirOwnRules) {
    auto hello = decodeAs<M::Hello>(R"({"hello":{"_0":{}}})")._0;
    EXPECT_EQ(hello.protocolVersion, 4);
    EXPECT_EQ(decodeAs<M::UploadHello>(R"({"uploadHello":{"_0":{}}})")._0.protocolVersion, 23);
    EXPECT_EQ(decodeAs<M::StillHello>(R"({"stillHello":{"_0":{}}})")._0.maxLongEdge, 2576);
    EXPECT_FALSE(
        decode(R"({"viewHello":{"_0":{"protocolVersion":23,"deviceName":"P","deviceID":"D","maxWidth":1}}})").ok());
    EXPECT_FALSE(decode(R"({"listenHello":{"_0":{}}})").ok());
    EXPECT_FALSE(decode(R"({"uploadHello":{"_0":{"count":"2"}}})").ok());
    EXPECT_FALSE(decode(R"({"text":{"_0":{"targetID":"T"}}})").ok());
    EXPECT_FALSE(decode(R"({"requestApproval":{"_0":{"kind":"delete"}}})").ok());
    EXPECT_FALSE(decode(R"({"hello":{"_0":null}})").ok());
}

TEST(ClientMessage, ANumberThatIsNotFiniteFailsTheEncode) {
    EXPECT_FALSE(QuibCoder::line(M{M::Move{std::nan(""), 1}}).ok());
    EXPECT_FALSE(QuibCoder::line(M{M::PointAtPanel{INFINITY, 0}}).ok());
}
