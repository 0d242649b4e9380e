#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

#include "Shared/QuibTransport.hpp"

namespace quib::testing {

// A phone for in-process tests: connects over the real TLS stack with a pairing code, from a
// chosen loopback address, writes raw bytes and reads the host's lines. Waits use real time
// only to let the network move; no test relies on them passing.
class TestPhone {
public:
    explicit TestPhone(const std::string& pairingCode, const std::string& localAddress = "127.0.0.1");
    // Offers this pre-shared key (an away key) instead of one derived from a pairing code.
    explicit TestPhone(const QuibTransport::Key& key, const std::string& localAddress = "127.0.0.1");
    ~TestPhone();
    TestPhone(const TestPhone&) = delete;
    TestPhone& operator=(const TestPhone&) = delete;

    void beginConnect(std::uint16_t port);
    // The connection's outcome, or nothing when it is still under way after `timeout`.
    std::optional<std::error_code> waitConnected(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    std::error_code connect(std::uint16_t port);

    void write(std::string bytes);
    // The next line from the host, without its line feed; nothing on time-out or close.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Every byte the host sent until it closed the connection (lines not yet read included), or
    // until `timeout` passed.
    std::string readUntilClosed(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // True once the host has closed the connection (or it failed).
    bool waitClosed(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool isClosed();
    // How the connection ended: asio::error::eof after a clean TLS close, another error when
    // the host cut the socket; empty while it is open.
    std::error_code closeError();
    void close();
    // Stops reading from the host, so what it sends piles up (resume: read again).
    void stopReading();

private:
    TestPhone(const QuibTransport::Parameters& parameters, const std::string& localAddress);
    void readMore();
    void writeNext();

    asio::io_context io_;
    asio::executor_work_guard<asio::io_context::executor_type> work_;
    std::shared_ptr<asio::ssl::context> context_;
    std::string localAddress_;
    std::unique_ptr<QuibTransport::Stream> stream_;
    std::array<char, 65536> buffer_{};
    std::deque<std::string> writes_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<std::error_code> connected_;
    std::string received_;
    bool closed_ = false;
    std::error_code closeError_;
    bool paused_ = false;
    std::thread thread_;
};

}  // namespace quib::testing
