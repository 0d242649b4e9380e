// Side-channel hellos, and uploads from their hello to the receipts.

#include "HostServerFixture.hpp"

#include <asio/error.hpp>

#include <fstream>

#include "Shared/AttachmentFrame.hpp"
#include "Shared/Json.hpp"
#include "Tests/Support/TestImages.hpp"

using namespace std::chrono_literals;

namespace quib::testing {

namespace {

namespace fs = std::filesystem;

QuibTarget target(const std::string& id) {
    QuibTarget target;
    target.id = id;
    target.name = "Target " + id;
    return target;
}

std::string uploadHello(const std::vector<std::string>& targetIDs, std::int64_t count, const std::string& extra = "") {
    Json ids = targetIDs;
    return R"({"uploadHello":{"_0":{"deviceID":"D-U","deviceName":"Pad","targetIDs":)" + ids.dump() +
           ",\"count\":" + std::to_string(count) + extra + "}}}\n";
}

std::string frame(std::int64_t index, const Bytes& image = onePixelPng()) {
    const AttachmentFrame header{index, AttachmentFrame::Format::png, static_cast<std::int64_t>(image.size()), 1, 1};
    return textOf(*AttachmentFrameWriter::encode(header, image));
}

}  // namespace

TEST_F(HostServer, ApprovedViewAndListenHellosAreHeldOpenIdleWithoutCountingFailures) {
    const auto port = startUploads();
    const std::vector<std::string> hellos{
        R"({"viewHello":{"_0":{"protocolVersion":23,"deviceName":"Pad","deviceID":"D-U","maxWidth":800,"maxHeight":600}}})",
        R"({"listenHello":{"_0":{"protocolVersion":3,"deviceName":"Pad","deviceID":"D-U"}}})"};
    std::vector<std::unique_ptr<TestPhone>> phones;
    for (const auto& hello : hellos) {
        phones.push_back(std::make_unique<TestPhone>(code));
        ASSERT_FALSE(phones.back()->connect(port));
        phones.back()->write(hello + "\n" +
                             R"({"ping":{"nonce":1}})"
                             "\n");
        // One source may have only two connections waiting for their first line at once.
        ASSERT_TRUE(eventually([&] { return server->inspect().clients == phones.size(); }));
    }
    EXPECT_EQ(server->inspect().listenerLimit, 6);
    clock->advance(quib::HostServer::helloDeadline + 1s);
    for (auto& phone : phones) {
        EXPECT_FALSE(nextLine(*phone, 100ms)) << "a side channel was sent a line";
        EXPECT_FALSE(phone->isClosed());
    }
    EXPECT_EQ(server->inspect().pending, 0u);
    EXPECT_EQ(failuresOf("127.0.0.1"), 0);
    // Side channels are no control connections: no device row, no broadcast.
    server->broadcastStatus();
    EXPECT_FALSE(nextLine(*phones[0], 100ms));
    EXPECT_TRUE(server->connectedDevices().value().empty());
}

TEST_F(HostServer, SideChannelHellosFromDevicesNotApprovedAreToldToWaitAndClosed) {
    const auto port = startUploads();
    const std::string wait = "Waiting for approval on " + server->hostDisplayName();
    const std::vector<std::tuple<std::string, std::string, std::string>> cases{
        {R"({"viewHello":{"_0":{"protocolVersion":23,"deviceName":"Stranger","deviceID":"D-X","maxWidth":1,"maxHeight":1}}})",
         "refused a panel viewer from Stranger: not approved", " \u2014 open the Quib panel"},
        {R"({"listenHello":{"_0":{"protocolVersion":23,"deviceName":"Stranger","deviceID":"D-X"}}})",
         "refused a listener from Stranger: not approved", " \u2014 open the Quib panel"},
        {R"({"stillHello":{"_0":{"deviceName":"Stranger","deviceID":"D-X"}}})",
         "refused a screenshot request from Stranger: not approved", " \u2014 open the Quib panel"},
        {R"({"uploadHello":{"_0":{"deviceName":"Stranger","deviceID":"D-X","targetIDs":["T"],"count":1}}})",
         "refused an upload from Stranger: not approved", " \u2014 open the Quib panel"}};
    int source = 2;
    for (const auto& [hello, note, ending] : cases) {
        const std::string address = "127.0.0." + std::to_string(source++);
        TestPhone phone(code, address);
        ASSERT_FALSE(phone.connect(port));
        phone.write(hello + "\n");
        EXPECT_EQ(parse(nextLine(phone))["error"]["_0"], wait + ending);
        EXPECT_TRUE(phone.waitClosed());
        EXPECT_EQ(phone.closeError(), asio::error::eof);  // a TLS close, not a cut socket
        EXPECT_TRUE(eventually([&, &note = note] { return log->contains(note); })) << note;
        // The phone does not answer the TLS close: the host waits for it that long, then cuts.
        clock->advance(TlsConnection::closeTimeout);
        EXPECT_TRUE(eventually([&] { return failuresOf(address) == 1; })) << address;  // closed while pending
    }
    EXPECT_TRUE(inboxFiles().empty());
}

TEST_F(HostServer, HelloNamingATargetThatDoesNotExistIsRefusedAndClosed) {
    const auto port = startUploads();
    targets->setSnapshot({{target("T-1")}, {}});
    TestPhone phone(code);
    ASSERT_FALSE(phone.connect(port));
    phone.write(uploadHello({"T-1", "T-gone"}, 1));
    EXPECT_EQ(parse(nextLine(phone))["error"]["_0"], "No target with that id \u2014 it may have been removed");
    EXPECT_TRUE(phone.waitClosed());
}

// Each target gets every image in turn and becomes active first; each answers with its own
// receipt, in the manifest's order, and the connection closes after the last. The follow-up
// chord is pressed only after a delivery that succeeded.
TEST_F(HostServer, CompleteUploadIsDeliveredIntoEachTargetInOrderWithOneReceiptEach) {
    const auto port = startUploads();
    targets->setSnapshot({{target("T-1"), target("T-2")}, {target("T-3")}});
    router->failing = {"T-2"};
    auto phone = readyUpload(
        port, uploadHello({"T-3", "T-2", "T-1"}, 2, R"(,"text":"look","submit":true,"followChord":{"key":"return"})"));
    phone->write(frame(1));
    EXPECT_FALSE(nextLine(*phone, 100ms));
    phone->write(frame(0));

    std::vector<Json> receipts;
    while (auto line = nextLine(*phone)) receipts.push_back(parse(line)["delivered"]["_0"]);
    EXPECT_TRUE(phone->isClosed());
    ASSERT_EQ(receipts.size(), 3u);
    EXPECT_EQ(receipts[0]["targetID"], "T-3");
    EXPECT_EQ(receipts[1]["targetID"], "T-2");
    EXPECT_EQ(receipts[1]["ok"], false);
    EXPECT_EQ(receipts[2]["targetID"], "T-1");

    const auto calls = router->calls();
    std::vector<std::string> order;
    for (const auto& call : calls) order.push_back(call.what + " " + call.targetID);
    EXPECT_EQ(order, (std::vector<std::string>{"images T-3", "press T-3", "images T-2", "images T-1", "press T-1"}));
    ASSERT_EQ(calls[0].attachments.size(), 2u);
    const std::vector<std::string> names{calls[0].attachments[0].file.filename(),
                                         calls[0].attachments[1].file.filename()};
    EXPECT_TRUE(names[0].starts_with("quib-") && names[0].ends_with("-1.png")) << names[0];
    EXPECT_TRUE(names[1].starts_with("quib-") && names[1].ends_with("-2.png")) << names[1];
    EXPECT_EQ(calls[0].caption, "look");
    EXPECT_EQ(calls[0].submit, true);
    EXPECT_EQ(inboxFiles(), names);
    EXPECT_TRUE(eventually([&] {
        return targets->activations() == std::vector<std::optional<std::string>>{"T-3", "T-2", "T-1"};
    }));
    EXPECT_TRUE(log->contains("upload " + batchID + ": Could not reach Target T-2"));
    EXPECT_TRUE(eventually([&] { return log->contains("Sent to Target T-1"); }));
}

TEST_F(HostServer, TargetsRemovedMeanwhileAreSkippedAndWithNoneLeftTheImagesStayWithinTheLimit) {
    const auto port = startUploads();
    targets->setSnapshot({{target("T-1"), target("T-2")}, {}});
    auto phone = readyUpload(port, uploadHello({"T-1", "T-2"}, 1));
    targets->setSnapshot({{target("T-2")}, {}});
    phone->write(frame(0));
    EXPECT_EQ(parse(nextLine(*phone))["delivered"]["_0"]["targetID"], "T-2");
    EXPECT_TRUE(phone->waitClosed());

    // The inbox is pruned on that path too: uploads to removed targets once grew it past its limit.
    const fs::path big = dataHome.path / "Quib" / "inbox" / "quib-big-1.png";
    { std::ofstream(big) << "big"; }
    fs::resize_file(big, AttachmentInbox::maxTotalBytes + 1);
    fs::last_write_time(big, fs::last_write_time(big) - std::chrono::hours(1));
    auto second = readyUpload(port, uploadHello({"T-2"}, 1));
    targets->setSnapshot({});
    second->write(frame(0));
    EXPECT_EQ(parse(nextLine(*second))["error"]["_0"], "No target with that id \u2014 it may have been removed");
    EXPECT_TRUE(second->waitClosed());
    EXPECT_TRUE(eventually([&] { return !fs::exists(big); }));
    EXPECT_EQ(inboxFiles().size(), 2u);
}

// The frames may follow the hello in the same read; a refusal reaches the phone with the
// upload's own words behind "Upload refused: ", and what was stored is deleted.
TEST_F(HostServer, BadFrameRefusesTheUploadAndDeletesWhatItStored) {
    const auto port = startUploads();
    targets->setSnapshot({{target("T-1")}, {}});
    auto phone = readyUpload(port, uploadHello({"T-1"}, 2), frame(0) + frame(2));
    EXPECT_EQ(parse(nextLine(*phone))["error"]["_0"], "Upload refused: Attachment 3 isn't part of a batch of 2");
    EXPECT_TRUE(phone->waitClosed());
    EXPECT_TRUE(inboxFiles().empty());
    EXPECT_TRUE(eventually([&] { return log->contains("Upload refused: Attachment 3 isn't part of a batch of 2"); }));
    EXPECT_TRUE(log->contains("upload " + batchID + " refused: Attachment 3 isn't part of a batch of 2"));
    EXPECT_TRUE(router->calls().empty());
}

TEST_F(HostServer, ConnectionEndingMidUploadDeletesWhatItStoredAndCountsNoFailure) {
    const auto port = startUploads();
    targets->setSnapshot({{target("T-1")}, {}});
    auto phone = readyUpload(port, uploadHello({"T-1"}, 2));
    phone->write(frame(0) + R"({"ping":{"nonce":1}})"
                            "\n");
    ASSERT_TRUE(eventually([&] { return inboxFiles().size() == 1; }));
    EXPECT_FALSE(nextLine(*phone, 100ms));  // bytes of an upload are never read as lines
    phone->close();
    EXPECT_TRUE(eventually([&] { return inboxFiles().empty(); }));
    EXPECT_EQ(failuresOf("127.0.0.1"), 0);
}

// A stalled upload would hold a slot of the budget for ever: after a minute with no whole frame
// its connection is closed and what it stored is deleted. A whole frame starts the wait again;
// the bytes of an unfinished one do not.
TEST_F(HostServer, UploadWithNoWholeFrameForAMinuteIsClosedAndLeavesNothing) {
    const auto stall = quib::HostServer::uploadStallDeadline;
    const auto port = startUploads();
    targets->setSnapshot({{target("T-1")}, {}});
    auto phone = readyUpload(port, uploadHello({"T-1"}, 2));
    clock->advance(stall - 1s);
    EXPECT_FALSE(nextLine(*phone, 100ms));
    phone->write(frame(0));
    ASSERT_TRUE(eventually([&] { return inboxFiles().size() == 1; }));
    clock->advance(stall - 1s);
    const std::string second = frame(1);
    phone->write(second.substr(0, second.size() / 2));
    EXPECT_FALSE(nextLine(*phone, 100ms));
    EXPECT_FALSE(phone->isClosed());
    EXPECT_EQ(server->inspect().clients, 1u);

    clock->advance(1s);
    EXPECT_TRUE(phone->waitClosed());
    EXPECT_TRUE(eventually([&] { return server->inspect().clients == 0 && inboxFiles().empty(); }));
    EXPECT_TRUE(log->contains("closing upload " + batchID + " from Pad: no image arrived whole for 60s"));
    EXPECT_EQ(failuresOf("127.0.0.1"), 0);
    EXPECT_TRUE(router->calls().empty());
}

TEST_F(HostServer, DeliveryPrunesTheInbox) {
    const auto port = startUploads();
    targets->setSnapshot({{target("T-1")}, {}});
    const fs::path folder = dataHome.path / "Quib" / "inbox";
    fs::create_directories(folder);
    { std::ofstream(folder / "quib-old-1.png") << "old"; }
    const auto old = fs::last_write_time(folder / "quib-old-1.png") - std::chrono::hours(24 * 8);
    fs::last_write_time(folder / "quib-old-1.png", old);
    auto phone = readyUpload(port, uploadHello({"T-1"}, 1));
    phone->write(frame(0));
    EXPECT_TRUE(phone->waitClosed());
    EXPECT_TRUE(eventually([&] { return inboxFiles().size() == 1 && inboxFiles()[0] != "quib-old-1.png"; }));
}

}  // namespace quib::testing
