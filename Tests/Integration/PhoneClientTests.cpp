// The stand-in phone against a small TLS line server in this process, built from the same
// transport the host uses.

#include <atomic>
#include <future>
#include <thread>

#include <gtest/gtest.h>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/read_until.hpp>
#include <asio/streambuf.hpp>
#include <asio/write.hpp>

#include "Shared/ClientMessage.hpp"
#include "Shared/QuibTransport.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;

constexpr const char* code = "KX7P2M";

// The host message a line is echoed as.
std::string toast(const std::string& text) { return Json{{"toast", {{"_0", text}}}}.dump(); }

// Accepts one connection at a time on 127.0.0.1 and answers each line: "close" closes the
// connection, "burst" sends three lines in one write, "garbage" a line that is no host message,
// anything else comes back as the text of a toast.
class LineServer {
public:
    LineServer() : acceptor_(io_, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)) {
        auto context =
            QuibTransport::serverContext(QuibTransport::parameters(code, QuibTransport::Derivation::current()));
        context_ = *context;
        thread_ = std::thread([this] { serve(); });
    }
    ~LineServer() {
        io_.stop();
        thread_.join();
    }
    std::uint16_t port() const { return acceptor_.local_endpoint().port(); }
    std::string lastPeer() { return lastPeer_.get_future().get(); }

private:
    void serve() {
        acceptOne();
        io_.run();  // an accept is always pending, so this returns only at stop()
    }
    void acceptOne() {
        acceptor_.async_accept([this](std::error_code error, asio::ip::tcp::socket socket) {
            if (error) return;
            std::error_code ignored;
            peers_.push_back(socket.remote_endpoint(ignored).address().to_string());
            if (peers_.size() == 1) lastPeer_.set_value(peers_.back());
            auto stream = std::make_shared<QuibTransport::Stream>(std::move(socket), *context_);
            stream->async_handshake(asio::ssl::stream_base::server, [this, stream](std::error_code error) {
                if (!error) readLine(stream, std::make_shared<asio::streambuf>());
            });
            acceptOne();
        });
    }
    void readLine(std::shared_ptr<QuibTransport::Stream> stream, std::shared_ptr<asio::streambuf> buffer) {
        asio::async_read_until(*stream, *buffer, '\n', [this, stream, buffer](std::error_code error, std::size_t n) {
            if (error) return;
            std::string line(asio::buffers_begin(buffer->data()), asio::buffers_begin(buffer->data()) + n);
            buffer->consume(n);
            if (line == "close\n") {
                auto reply = std::make_shared<std::string>(toast("bye") + "\n");
                asio::async_write(*stream, asio::buffer(*reply), [stream, reply](std::error_code, std::size_t) {
                    std::error_code ignored;
                    stream->lowest_layer().close(ignored);
                });
                return;
            }
            line.pop_back();
            auto reply = std::make_shared<std::string>(toast(line) + "\n");
            if (line == "burst")
                *reply = toast("a") + "\n{\"pong\":{\"nonce\":5,\"hostTime\":1}}\n" + toast("b") + "\n";
            if (line == "garbage") *reply = "{\"a\":{}}\n";
            asio::async_write(*stream, asio::buffer(*reply),
                              [this, stream, buffer, reply](std::error_code error, std::size_t) {
                                  if (!error) readLine(stream, buffer);
                              });
        });
    }

    asio::io_context io_;
    asio::ip::tcp::acceptor acceptor_;
    std::shared_ptr<asio::ssl::context> context_;
    std::vector<std::string> peers_;
    std::promise<std::string> lastPeer_;
    std::thread thread_;
};

PhoneClient::Options optionsFor(const LineServer& server, std::string pairingCode = code) {
    PhoneClient::Options options;
    options.port = server.port();
    options.pairingCode = std::move(pairingCode);
    return options;
}

TEST(PhoneClient, SendsLinesAndReadsTheRepliesInOrder) {
    LineServer server;
    auto phone = PhoneClient::connect(optionsFor(server));
    ASSERT_TRUE(phone) << phone.error().message;

    ASSERT_TRUE((*phone)->sendHello("DEVICE-1", "Test Phone"));
    auto hello = (*phone)->receiveLine(5s);
    ASSERT_TRUE(hello) << hello.error().message;
    EXPECT_EQ(*hello,
              toast(R"({"hello":{"_0":{"protocolVersion":23,"deviceName":"Test Phone","deviceID":"DEVICE-1"}}})"));

    ASSERT_TRUE((*phone)->send(ClientMessage{ClientMessage::Ping{42}}));
    ASSERT_TRUE((*phone)->sendLine("{\"raw\":{}}\n"));  // its own line feed is not doubled
    EXPECT_EQ((*phone)->receiveLine(5s).valueOr("none"), toast(R"({"ping":{"nonce":42}})"));
    EXPECT_EQ((*phone)->receiveLine(5s).valueOr("none"), toast(R"({"raw":{}})"));
}

// Every line is read with the shared host-message decoder: one it cannot read fails the call.
TEST(PhoneClient, ALineThatIsNoHostMessageFailsTheReceive) {
    LineServer server;
    auto phone = PhoneClient::connect(optionsFor(server));
    ASSERT_TRUE(phone) << phone.error().message;
    ASSERT_TRUE((*phone)->sendLine("garbage"));
    auto line = (*phone)->receiveLine(5s);
    ASSERT_FALSE(line);
    EXPECT_NE(line.error().message.find("no host message"), std::string::npos) << line.error().message;
}

TEST(PhoneClient, TimesOutWithoutLosingTheConnection) {
    LineServer server;
    auto phone = PhoneClient::connect(optionsFor(server));
    ASSERT_TRUE(phone) << phone.error().message;

    auto nothing = (*phone)->receiveLine(50ms);
    ASSERT_FALSE(nothing);
    EXPECT_EQ(nothing.error().message, "Timed out");
    EXPECT_FALSE((*phone)->isClosed());

    ASSERT_TRUE((*phone)->sendLine("still here"));
    EXPECT_EQ((*phone)->receiveLine(5s).valueOr("none"), toast("still here"));
}

TEST(PhoneClient, ReceiveCaseSkipsOtherLinesOfTheSameRead) {
    LineServer server;
    auto phone = PhoneClient::connect(optionsFor(server));
    ASSERT_TRUE(phone) << phone.error().message;

    ASSERT_TRUE((*phone)->sendLine("burst"));
    auto pong = (*phone)->receiveCase("pong", 5s);
    ASSERT_TRUE(pong) << pong.error().message;
    EXPECT_EQ((*pong)["nonce"], 5);
    EXPECT_EQ((*phone)->receiveLine(5s).valueOr("none"), toast("b"));
}

TEST(PhoneClient, ReportsTheHostClosingAfterItsLastLines) {
    LineServer server;
    auto phone = PhoneClient::connect(optionsFor(server));
    ASSERT_TRUE(phone) << phone.error().message;

    ASSERT_TRUE((*phone)->sendLine("close"));
    ASSERT_TRUE((*phone)->waitForClose(5s));
    EXPECT_TRUE((*phone)->isClosed());
    EXPECT_EQ((*phone)->receiveLine(1s).valueOr("none"), toast("bye"));
    auto after = (*phone)->receiveLine(1s);
    ASSERT_FALSE(after);
    EXPECT_EQ(after.error().message, "Connection closed");
    EXPECT_FALSE((*phone)->sendLine("too late"));
}

TEST(PhoneClient, FailsToConnectWithAnotherPairingCode) {
    LineServer server;
    auto phone = PhoneClient::connect(optionsFor(server, "ABCDEF"));
    ASSERT_FALSE(phone);
    EXPECT_NE(phone.error().message.find("Could not connect"), std::string::npos) << phone.error().message;
}

TEST(PhoneClient, FailsToConnectWhereNothingListens) {
    PhoneClient::Options options;
    {
        LineServer gone;
        options = optionsFor(gone);
    }
    auto phone = PhoneClient::connect(options);
    ASSERT_FALSE(phone);
}

TEST(PhoneClient, ComesFromTheLocalAddressAskedFor) {
    LineServer server;
    auto options = optionsFor(server);
    options.localAddress = "127.0.0.2";
    auto phone = PhoneClient::connect(options);
    ASSERT_TRUE(phone) << phone.error().message;
    EXPECT_EQ(server.lastPeer(), "127.0.0.2");
}

}  // namespace
}  // namespace quib
