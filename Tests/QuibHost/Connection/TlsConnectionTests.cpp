#include "QuibHost/Connection/TlsConnection.hpp"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <filesystem>
#include <future>
#include <mutex>

#include "QuibHost/Connection/NetworkQueue.hpp"
#include "QuibHost/Connection/TlsListener.hpp"
#include "Runtime/AssertOn.hpp"
#include "Runtime/FakeClock.hpp"
#include "Tests/Support/TestPhone.hpp"

using namespace std::chrono_literals;
using quib::Bytes;
using quib::MonoTime;
using quib::Result;

namespace {

struct Completion {
    bool onNetworkQueue = false;
    Result<MonoTime> outcome;
};

// One connection of a real listener on 127.0.0.1, started, with a phone at the other end.
class TlsConnection : public ::testing::Test {
protected:
    void SetUp() override {
        auto made = quib::TlsListener::create(
            network->context(), quib::QuibTransport::parameters("ABCDEF", quib::QuibTransport::Derivation::current()),
            asio::ip::make_address("127.0.0.1"), 0, clock);
        ASSERT_TRUE(made);
        listener = *made;
        std::promise<std::shared_ptr<quib::TlsConnection>> accepted;
        ASSERT_TRUE(network->sync([&] {
            listener->setNewConnectionHandler([&](std::shared_ptr<quib::TlsConnection> connection) {
                connection->start();
                accepted.set_value(std::move(connection));
            });
            listener->setNewConnectionLimit(1);
            listener->start();
        }));
        ASSERT_FALSE(phone.connect(listener->port()));
        connection = accepted.get_future().get();
    }

    void TearDown() override {
        (void)network->sync([&] {
            listener->cancel();
            connection->cancel();
        });
        network->shutdown();
    }

    quib::SendCompletion recorder() {
        const std::size_t index = [&] {
            std::lock_guard lock(mutex);
            completions.emplace_back();
            return completions.size() - 1;
        }();
        return [this, index](Result<MonoTime> outcome) {
            std::lock_guard lock(mutex);
            completions[index].emplace(Completion{network->isCurrent(), std::move(outcome)});
            ++calls;
        };
    }
    // Waits until `count` completions have been called.
    bool completed(int count) {
        for (int i = 0; i < 2500; ++i) {
            {
                std::lock_guard lock(mutex);
                if (calls >= count) return true;
            }
            std::this_thread::sleep_for(2ms);
        }
        return false;
    }

    std::shared_ptr<quib::FakeClock> clock = std::make_shared<quib::FakeClock>();
    std::shared_ptr<quib::NetworkQueue> network = quib::NetworkQueue::create("test.net", clock);
    std::shared_ptr<quib::TlsListener> listener;
    std::shared_ptr<quib::TlsConnection> connection;
    quib::testing::TestPhone phone{"ABCDEF"};
    std::mutex mutex;
    std::vector<std::optional<Completion>> completions;
    int calls = 0;
};

// The descriptor of this process's socket between these two endpoints.
int socketBetween(const asio::ip::tcp::endpoint& local, const asio::ip::tcp::endpoint& remote) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename().string());
        sockaddr_in mine{}, theirs{};
        socklen_t length = sizeof mine;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&mine), &length) != 0 || mine.sin_family != AF_INET) continue;
        length = sizeof theirs;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&theirs), &length) != 0) continue;
        if (ntohs(mine.sin_port) == local.port() && ntohs(theirs.sin_port) == remote.port()) return fd;
    }
    return -1;
}

}  // namespace

TEST_F(TlsConnection, SharedMessagesKeepTheirPlaceAmongLinesAndCompleteOnceWhenWritten) {
    const auto frame = std::make_shared<const Bytes>(quib::bytesOf("<frame one>"));
    const auto big = std::make_shared<const Bytes>(Bytes(300000, 'x'));
    clock->advance(5s);
    const MonoTime sentAt = clock->now();
    connection->send("first\n", false);
    connection->send(frame, recorder());
    connection->send("second\n", false);
    connection->send(big, recorder());
    connection->send(frame, recorder());
    const std::string expected = "first\n<frame one>second\n" + std::string(300000, 'x') + "<frame one>";
    std::string received;
    for (int i = 0; i < 100 && received.size() < expected.size(); ++i) received += phone.readUntilClosed(50ms);
    EXPECT_TRUE(received == expected) << received.size() << " bytes";
    ASSERT_TRUE(completed(3));
    std::this_thread::sleep_for(50ms);
    std::lock_guard lock(mutex);
    EXPECT_EQ(calls, 3);
    for (const auto& one : completions) {
        ASSERT_TRUE(one && one->outcome);
        EXPECT_EQ(*one->outcome, sentAt);
        EXPECT_TRUE(one->onNetworkQueue);
    }
    EXPECT_EQ(frame.use_count(), 1);  // the connection no longer holds it
}

// Whatever was never written is told so: behind a closing reply, queued when the connection
// is cut, or sent after its end. No completion runs inside the send that gave it.
TEST_F(TlsConnection, MessagesThatAreNeverWrittenCompleteWithAnError) {
    const auto frame = std::make_shared<const Bytes>(Bytes(8 << 20, 'x'));
    bool calledInside = false;
    ASSERT_TRUE(network->sync([&] {
        connection->setBacklogLimit(64 << 20);
        connection->send(frame, recorder());
        connection->send(frame, recorder());
        connection->cancel();
        connection->send(frame, recorder());
        std::lock_guard lock(mutex);
        calledInside = calls > 0;
    }));
    EXPECT_FALSE(calledInside);
    ASSERT_TRUE(completed(3));
    std::this_thread::sleep_for(50ms);
    std::lock_guard lock(mutex);
    EXPECT_EQ(calls, 3);
    for (const auto& one : completions) {
        ASSERT_TRUE(one);
        ASSERT_FALSE(one->outcome);
        EXPECT_EQ(one->outcome.error().message, "The connection ended before the message was sent");
        EXPECT_TRUE(one->onNetworkQueue);
    }
}

TEST_F(TlsConnection, NothingQueuedBehindAClosingReplyIsWritten) {
    connection->send("bye\n", true);
    connection->send(std::make_shared<const Bytes>(quib::bytesOf("late")), recorder());
    EXPECT_EQ(phone.readUntilClosed(5s), "bye\n");
    ASSERT_TRUE(completed(1));
    std::lock_guard lock(mutex);
    ASSERT_FALSE(completions[0]->outcome);
}

TEST_F(TlsConnection, LowWaterMarkReachesTheSocket) {
    Result<void> set = quib::fail("not run");
    ASSERT_TRUE(network->sync([&] { set = connection->setNotSentLowWater(16384); }));
    ASSERT_TRUE(set) << set.error().message;
    const int fd = socketBetween(connection->localEndpoint(), connection->remoteEndpoint());
    ASSERT_GE(fd, 0);
    int mark = 0;
    socklen_t length = sizeof mark;
    ASSERT_EQ(::getsockopt(fd, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &mark, &length), 0);
    EXPECT_EQ(mark, 16384);
}

// A connection knows its queue from its socket's context; reading from anywhere else stops the
// process in the builds that check queue affinity.
class TlsConnectionDeathTest : public TlsConnection {};
TEST_F(TlsConnectionDeathTest, KnowsItsQueueAndStopsOffIt) {
    bool onIt = false;
    ASSERT_TRUE(network->sync([&] { onIt = connection->isOnItsQueue(); }));
    EXPECT_TRUE(onIt);
    EXPECT_FALSE(connection->isOnItsQueue());
    if (!QUIB_ASSERT_QUEUES) GTEST_SKIP() << "queue affinity is checked only where assertions are";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(connection->receive(1, [](std::string, bool, std::optional<std::string>) {}),
                 "receive ran off its queue network queue");
}
