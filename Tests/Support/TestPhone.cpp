#include "Tests/Support/TestPhone.hpp"

#include <asio/post.hpp>
#include <asio/write.hpp>

#include <future>

#include "Runtime/Clock.hpp"

namespace quib::testing {

TestPhone::TestPhone(const std::string& pairingCode, const std::string& localAddress)
    : TestPhone(QuibTransport::parameters(pairingCode, QuibTransport::Derivation::current()), localAddress) {}

TestPhone::TestPhone(const QuibTransport::Key& key, const std::string& localAddress)
    : TestPhone(QuibTransport::parameters({key}, false), localAddress) {}

TestPhone::TestPhone(const QuibTransport::Parameters& parameters, const std::string& localAddress)
    : work_(asio::make_work_guard(io_)), localAddress_(localAddress) {
    auto context = QuibTransport::clientContext(parameters);
    context_ = context ? *context : nullptr;
    stream_ = std::make_unique<QuibTransport::Stream>(io_, *context_);
    thread_ = std::thread([this] { io_.run(); });
}

TestPhone::~TestPhone() {
    close();
    work_.reset();
    io_.stop();
    thread_.join();
}

void TestPhone::beginConnect(std::uint16_t port) {
    asio::post(io_, [this, port] {
        auto& socket = stream_->lowest_layer();
        std::error_code error;
        socket.open(asio::ip::tcp::v4(), error);
        if (!error) socket.bind({asio::ip::make_address(localAddress_), 0}, error);
        const asio::ip::tcp::endpoint host(asio::ip::make_address("127.0.0.1"), port);
        QuibTransport::connect(*stream_, host, *SystemClock::shared(), [this](std::error_code error) {
            {
                std::lock_guard lock(mutex_);
                connected_ = error;
                if (error) closed_ = true;
            }
            changed_.notify_all();
            if (!error) {
                readMore();
                writeNext();
            }
        });
    });
}

std::optional<std::error_code> TestPhone::waitConnected(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return connected_.has_value(); });
    return connected_;
}

std::error_code TestPhone::connect(std::uint16_t port) {
    beginConnect(port);
    return waitConnected().value_or(std::make_error_code(std::errc::timed_out));
}

void TestPhone::readMore() {
    stream_->async_read_some(asio::buffer(buffer_), [this](std::error_code error, std::size_t count) {
        bool paused;
        {
            std::lock_guard lock(mutex_);
            if (error) {
                closed_ = true;
                closeError_ = error;
            } else {
                received_.append(buffer_.data(), count);
            }
            paused = paused_;
        }
        changed_.notify_all();
        if (!error && !paused) readMore();
    });
}

void TestPhone::stopReading() {
    std::lock_guard lock(mutex_);
    paused_ = true;
}

std::error_code TestPhone::closeError() {
    std::lock_guard lock(mutex_);
    return closeError_;
}

void TestPhone::write(std::string bytes) {
    asio::post(io_, [this, bytes = std::move(bytes)]() mutable {
        writes_.push_back(std::move(bytes));
        bool ready;
        {
            std::lock_guard lock(mutex_);
            ready = connected_ && !*connected_;
        }
        if (ready && writes_.size() == 1) writeNext();
    });
}

void TestPhone::writeNext() {
    if (writes_.empty()) return;
    asio::async_write(*stream_, asio::buffer(writes_.front()), [this](std::error_code, std::size_t) {
        writes_.pop_front();
        writeNext();
    });
}

std::optional<std::string> TestPhone::readLine(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return received_.find('\n') != std::string::npos || closed_; });
    const auto end = received_.find('\n');
    if (end == std::string::npos) return std::nullopt;
    std::string line = received_.substr(0, end);
    received_.erase(0, end + 1);
    return line;
}

std::string TestPhone::readUntilClosed(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return closed_; });
    return std::exchange(received_, {});
}

bool TestPhone::waitClosed(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return closed_; });
}

bool TestPhone::isClosed() {
    std::lock_guard lock(mutex_);
    return closed_;
}

void TestPhone::close() {
    std::promise<void> done;
    asio::post(io_, [this, &done] {
        std::error_code ignored;
        stream_->lowest_layer().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        stream_->lowest_layer().close(ignored);
        done.set_value();
    });
    done.get_future().wait();
}

}  // namespace quib::testing
