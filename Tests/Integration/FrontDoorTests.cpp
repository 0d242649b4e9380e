// The real quib-host against peers that misbehave: idle sockets from one source, a phone that
// sends without ever reading, one that sends a line of far too many members, and side channels
// that say nothing after their hello.

#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/write.hpp>

#include "Runtime/Clock.hpp"
#include "Shared/AudioFrameReader.hpp"
#include "Shared/QuibTransport.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::HostProcess;
using testing::TempHome;

// The resident memory of a process, in bytes.
std::size_t residentBytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) != 0) continue;
        std::istringstream fields(line.substr(6));
        std::size_t kib = 0;
        fields >> kib;
        return kib * 1024;
    }
    return 0;
}

// The idle sockets hold their slots until their 10 s deadline: the phone must get in long
// before that, not once they are dropped.
TEST(QuibHost, IdleSocketsOfOneSourceDoNotKeepAPhoneFromAnotherOut) {
    TempHome home;
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    asio::io_context io;
    std::vector<asio::ip::tcp::socket> idle;
    for (int i = 0; i < 8; ++i) {
        auto& socket = idle.emplace_back(io);
        socket.open(asio::ip::tcp::v4());
        socket.bind({asio::ip::make_address("127.0.0.2"), 0});
        socket.connect({asio::ip::make_address("127.0.0.1"), host->port()});
    }
    EXPECT_TRUE(testing::welcomed(*host, {"FRONT-DOOR", "Phone"}, 3s).phone);
}

// {"ping":{"nonce":1,...}} with 100,000 more members, three-character names (about 800 KB):
// far more members than any message has, yet within the host's line cap, so it is decoded.
std::string pingOfManyMembers() {
    static constexpr std::string_view letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string line = R"({"ping":{"nonce":1)";
    for (std::size_t i = 0; i < 100000; ++i)
        line += std::string(",\"") + letters[i / 3844] + letters[i / 62 % 62] + letters[i % 62] + "\":0";
    return line + "}}";
}

// The line is refused as soon as its object passes the member limit. Decoding all of it took
// seconds under the process-wide coder lock, which held up every other phone's replies.
TEST(QuibHost, LineOfTooManyMembersIsRefusedWithoutHoldingUpAnotherPhone) {
    TempHome home;
    const testing::PhoneIdentity other{"PHONE-2", "Bo's phone"};
    testing::approveBeforeStart(home, {testing::adasPhone, other});
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    auto sender = testing::welcomed(*host).phone;
    auto bystander = testing::welcomed(*host, other).phone;
    ASSERT_TRUE(sender && bystander);
    ASSERT_TRUE(sender->sendLine(pingOfManyMembers()));
    // The host reads the line within milliseconds: by now it is decoding it, or done.
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(bystander->sendLine(R"({"ping":{"nonce":2}})"));
    EXPECT_TRUE(bystander->receiveCase("pong", 3s));
    EXPECT_EQ(testing::nextToastOrError(*sender), "error: Unreadable message");
    ASSERT_TRUE(sender->sendLine(R"({"ping":{"nonce":3}})"));
    EXPECT_TRUE(sender->receiveCase("pong", 10s));
    EXPECT_FALSE(host->process().wait(0ms)) << "the host ended";
}

// Approved listen channels say nothing after their hello. Left waiting for a first line, each
// would be cut at the 10 s deadline as a failed handshake, and three lock their source out for
// 2 s from the last one's: the phone of that source comes 11 s after the last hello, within
// that time. The host has no sound server to record here, so each channel hears that in a
// state frame, and never a line.
TEST(QuibHost, ListenChannelsOutlastTheFirstLineDeadlineAndLockNobodyOut) {
    TempHome home;
    testing::approveBeforeStart(home, {testing::adasPhone});
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    const Json hello{{"listenHello",
                      {{"_0",
                        {{"protocolVersion", 23},
                         {"deviceName", testing::adasPhone.name},
                         {"deviceID", testing::adasPhone.deviceID}}}}}};
    std::vector<std::unique_ptr<PhoneClient>> channels;
    for (int i = 0; i < 3; ++i) {
        channels.push_back(testing::connectPhone(testing::phoneOptions(*host, host->pairingCode())));
        ASSERT_TRUE(channels.back());
        channels.back()->expectBytes();
        ASSERT_TRUE(channels.back()->sendLine(hello.dump()));
        // The host reads the hello before the next comes: a source may have only two
        // connections waiting for their first line.
        std::this_thread::sleep_for(200ms);
    }
    std::this_thread::sleep_for(10800ms);
    EXPECT_TRUE(testing::welcomed(*host).phone);
    for (auto& channel : channels) {  // still open, and sent only state frames
        const auto heard = channel->receiveBytes(200ms);
        ASSERT_TRUE(heard) << heard.error().message;
        AudioFrameReader reader(AudioChannel::maxFrameBytes);
        const auto frames = reader.append(*heard);
        ASSERT_FALSE(frames.empty());
        for (const auto& frame : frames) EXPECT_EQ(frame.header.reason, "No display to capture audio from");
        EXPECT_FALSE(channel->isClosed());
    }
}

// 200,000 pings, none of whose pongs are read: the host stops reading from the phone instead of
// queueing every pong.
TEST(QuibHost, PhoneThatNeverReadsLeavesTheHostSmall) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "a sanitized host's memory is mostly the sanitizer's own";
#endif
    TempHome home;
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    asio::io_context io;
    auto context = QuibTransport::clientContext(
        QuibTransport::parameters(host->pairingCode(), QuibTransport::Derivation::current()));
    ASSERT_TRUE(context);
    QuibTransport::Stream stream(io, **context);
    std::optional<std::error_code> connected;
    QuibTransport::connect(stream, {asio::ip::make_address("127.0.0.1"), host->port()}, *SystemClock::shared(),
                           [&](std::error_code error) { connected = error; });
    io.run_for(10s);
    ASSERT_TRUE(connected && !*connected);

    std::string pings =
        "{\"hello\":{\"_0\":{\"protocolVersion\":23,\"deviceName\":\"Phone\",\"deviceID\":\"SILENT\"}}}\n";
    for (int i = 0; i < 200000; ++i) pings += "{\"ping\":{\"nonce\":" + std::to_string(i) + "}}\n";
    std::size_t written = 0;
    // Writes until all is sent or the host has stopped taking bytes for two seconds.
    for (std::size_t before = ~std::size_t{0}; written < pings.size() && written != before;) {
        before = written;
        asio::async_write(stream,
                          asio::buffer(pings.data() + written, std::min<std::size_t>(pings.size() - written, 1 << 16)),
                          [&](std::error_code, std::size_t count) { written += count; });
        io.restart();
        io.run_for(2s);
    }
    std::this_thread::sleep_for(500ms);
    const std::size_t rss = residentBytes(host->process().pid());
    EXPECT_GT(rss, 0u);
    EXPECT_LT(rss, std::size_t{64} << 20) << "after " << written << " bytes of pings";
    std::cout << "host resident after " << written << " of " << pings.size() << " bytes of pings: " << (rss >> 10)
              << " KiB\n";
}

}  // namespace
}  // namespace quib
