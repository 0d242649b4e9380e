#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

namespace quib::testing {

// An HTTP server on 127.0.0.1 for tests, standing in for a push relay or a router's UPnP side:
// it records every request and answers each with what the test's responder says. Each
// connection is served on its own thread, so a late answer does not hold up the next request.
// One request per connection.
class RelayStub {
public:
    struct Request {
        std::string method;
        std::string path;
        std::map<std::string, std::string> headers;  // names in lower case
        std::string body;
    };
    struct Reply {
        int status = 200;
        std::string body;
        std::optional<std::string> location;  // for redirects
        std::chrono::milliseconds delay{0};   // how long to hold the answer
        std::optional<std::string> contentType = std::nullopt;
        bool isEndless = false;  // the body sent over and over, with no length, until the client hangs up

        static Reply with(int status, std::string body = {}) { return Reply{status, std::move(body), std::nullopt}; }
        static Reply redirect(std::string location, int status = 307) { return Reply{status, {}, std::move(location)}; }
        // An answer that never ends, as a broken or hostile relay may give.
        static Reply endless(int status, std::string body) {
            Reply reply = with(status, std::move(body));
            reply.isEndless = true;
            return reply;
        }
        // An XML answer, as a router's UPnP side gives descriptions and SOAP answers.
        static Reply xml(int status, std::string body) {
            return Reply{status, std::move(body), std::nullopt, {}, "text/xml; charset=\"utf-8\""};
        }
    };
    using Responder = std::function<Reply(const Request&)>;

    // Answers 200 without a body until told otherwise.
    RelayStub();
    ~RelayStub();
    RelayStub(const RelayStub&) = delete;
    RelayStub& operator=(const RelayStub&) = delete;

    void respond(Responder responder);
    // Answers every request with `reply`.
    void respondAlways(Reply reply);

    std::uint16_t port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by `path`.
    std::string url(const std::string& path = "/push") const;

    std::vector<Request> requests() const;
    // Waits until `count` requests have come in; false when they have not within `timeout`.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // Clears the proxy variables of this process (and of the processes it starts), so that
    // libcurl reaches the stub directly.
    static void bypassProxies();

private:
    void acceptLoop();
    void serve(asio::ip::tcp::socket socket);
    void sendEndlessly(asio::ip::tcp::socket& socket, const Reply& reply);

    asio::io_context io_;
    asio::ip::tcp::acceptor acceptor_;
    std::uint16_t port_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Responder responder_;
    std::vector<Request> requests_;
    bool stopping_ = false;
    std::vector<std::thread> connections_;
    std::thread acceptor_thread_;
};

}  // namespace quib::testing
