// The real quib-host against peers that misbehave: idle sockets from one source, and a phone
// that sends without ever reading.

#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/write.hpp>
#include <gtest/gtest.h>

#include "Platform/Clock.hpp"
#include "Shared/QuibTransport.hpp"
#include "Tests/Integration/HostProcess.hpp"
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
    EXPECT_TRUE(testing::welcomed(*host, {"FRONT-DOOR", "Phone"}).phone);
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
    auto context = QuibTransport::clientContext(QuibTransport::parameters(host->pairingCode(), QuibTransport::Derivation::current()));
    ASSERT_TRUE(context);
    QuibTransport::Stream stream(io, **context);
    std::optional<std::error_code> connected;
    QuibTransport::connect(stream, {asio::ip::make_address("127.0.0.1"), host->port()}, *SystemClock::shared(),
                           [&](std::error_code error) { connected = error; });
    io.run_for(10s);
    ASSERT_TRUE(connected && !*connected);

    std::string pings = "{\"hello\":{\"_0\":{\"protocolVersion\":23,\"deviceName\":\"Phone\",\"deviceID\":\"SILENT\"}}}\n";
    for (int i = 0; i < 200000; ++i) pings += "{\"ping\":{\"nonce\":" + std::to_string(i) + "}}\n";
    std::size_t written = 0;
    // Writes until all is sent or the host has stopped taking bytes for two seconds.
    for (std::size_t before = ~std::size_t{0}; written < pings.size() && written != before;) {
        before = written;
        asio::async_write(stream, asio::buffer(pings.data() + written, std::min<std::size_t>(pings.size() - written, 1 << 16)),
                          [&](std::error_code, std::size_t count) { written += count; });
        io.restart();
        io.run_for(2s);
    }
    std::this_thread::sleep_for(500ms);
    const std::size_t rss = residentBytes(host->process().pid());
    EXPECT_GT(rss, 0u);
    EXPECT_LT(rss, std::size_t{64} << 20) << "after " << written << " bytes of pings";
    std::cout << "host resident after " << written << " of " << pings.size() << " bytes of pings: " << (rss >> 10) << " KiB\n";
}

}  // namespace
}  // namespace quib
