#include "Tests/Integration/RelayStub.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <istream>

#include <asio/connect.hpp>
#include <asio/read.hpp>
#include <asio/read_until.hpp>
#include <asio/streambuf.hpp>
#include <asio/write.hpp>

namespace quib::testing {
namespace {

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The request line and headers; the body is read afterwards.
RelayStub::Request readHead(std::istream& in) {
    RelayStub::Request request;
    std::string line;
    std::getline(in, line);
    const auto space = line.find(' ');
    request.method = line.substr(0, space);
    request.path = line.substr(space + 1, line.find(' ', space + 1) - space - 1);
    while (std::getline(in, line) && line != "\r" && !line.empty()) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        request.headers[lowerCase(line.substr(0, colon))] = trimmed(line.substr(colon + 1));
    }
    return request;
}

std::string replyText(const RelayStub::Reply& reply) {
    std::string text = "HTTP/1.1 " + std::to_string(reply.status) + " Stub\r\n";
    if (reply.location) text += "Location: " + *reply.location + "\r\n";
    if (reply.contentType) text += "Content-Type: " + *reply.contentType + "\r\n";
    text += "Content-Length: " + std::to_string(reply.body.size()) + "\r\nConnection: close\r\n\r\n" + reply.body;
    return text;
}

}  // namespace

RelayStub::RelayStub()
    : acceptor_(io_, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)),
      responder_([](const Request&) { return Reply{}; }) {
    port_ = acceptor_.local_endpoint().port();
    acceptor_thread_ = std::thread([this] { acceptLoop(); });
}

RelayStub::~RelayStub() {
    {
        std::lock_guard guard(mutex_);
        stopping_ = true;
    }
    // A connection of our own wakes the blocking accept.
    asio::error_code ignored;
    asio::ip::tcp::socket wake(io_);
    wake.connect(acceptor_.local_endpoint(), ignored);
    acceptor_thread_.join();
    for (auto& connection : connections_) connection.join();
}

void RelayStub::respond(Responder responder) {
    std::lock_guard guard(mutex_);
    responder_ = std::move(responder);
}

void RelayStub::respondAlways(Reply reply) {
    respond([reply](const Request&) { return reply; });
}

std::string RelayStub::url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

std::vector<RelayStub::Request> RelayStub::requests() const {
    std::lock_guard guard(mutex_);
    return requests_;
}

bool RelayStub::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void RelayStub::bypassProxies() {
    for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "HTTPS_PROXY", "ALL_PROXY"}) ::unsetenv(name);
}

void RelayStub::acceptLoop() {
    for (;;) {
        asio::ip::tcp::socket socket(io_);
        asio::error_code error;
        acceptor_.accept(socket, error);
        std::lock_guard guard(mutex_);
        if (stopping_) return;
        if (error) continue;
        connections_.emplace_back([this, socket = std::move(socket)]() mutable { serve(std::move(socket)); });
    }
}

// With no length the answer ends only when the connection does; the client ends it here.
void RelayStub::sendEndlessly(asio::ip::tcp::socket& socket, const Reply& reply) {
    asio::error_code error;
    const std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " Stub\r\nConnection: close\r\n\r\n";
    asio::write(socket, asio::buffer(head), error);
    while (!error) {
        {
            std::lock_guard guard(mutex_);
            if (stopping_) return;
        }
        asio::write(socket, asio::buffer(reply.body), error);
    }
}

void RelayStub::serve(asio::ip::tcp::socket socket) {
    asio::error_code error;
    asio::streambuf buffer;
    asio::read_until(socket, buffer, "\r\n\r\n", error);
    if (error) return;
    std::istream in(&buffer);
    Request request = readHead(in);
    const auto length =
        request.headers.contains("content-length")
            ? static_cast<std::size_t>(std::strtoul(request.headers["content-length"].c_str(), nullptr, 10))
            : 0;
    if (buffer.size() < length) asio::read(socket, buffer, asio::transfer_exactly(length - buffer.size()), error);
    request.body.assign(std::istreambuf_iterator<char>(in), {});
    Reply reply;
    {
        std::lock_guard guard(mutex_);
        reply = responder_(request);
        requests_.push_back(std::move(request));
    }
    changed_.notify_all();
    if (reply.delay.count() > 0) std::this_thread::sleep_for(reply.delay);
    if (reply.isEndless) {
        sendEndlessly(socket, reply);
    } else {
        asio::write(socket, asio::buffer(replyText(reply)), error);
    }
    socket.shutdown(asio::ip::tcp::socket::shutdown_both, error);
}

}  // namespace quib::testing
