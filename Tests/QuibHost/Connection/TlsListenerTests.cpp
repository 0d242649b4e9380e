#include "QuibHost/Connection/TlsListener.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "QuibHost/Connection/NetworkQueue.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/Logger.hpp"
#include "Tests/Support/Eventually.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::eventually;

// Opens descriptors on every free number below the highest one in use and returns the number
// after it: a limit of that leaves no descriptor to spare.
int fillDescriptorGaps(std::vector<int>& fillers) {
    int highest = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        highest = std::max(highest, std::stoi(entry.path().filename().string()));
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) {
        if (fd > highest) {
            ::close(fd);
            break;
        }
        fillers.push_back(fd);
    }
    return highest + 1;
}

// Lowers the process's descriptor limit for one test and puts it back after.
class DescriptorLimit {
public:
    explicit DescriptorLimit(rlim_t soft) {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = soft;
        ::setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &saved_); }

private:
    rlimit saved_{};
};

// With no descriptor left, accepting waits on the clock instead of spinning, says so once, and
// takes the waiting connection once descriptors are free and the pause is over.
TEST(TlsListener, BacksOffOnTheClockWhenDescriptorsRunOut) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizers' own checks need descriptors, which this test uses up";
#endif
    auto log = std::make_shared<CapturingLogSink>();
    auto previous = Logger::setSink(log);
    auto clock = std::make_shared<FakeClock>();
    auto network = NetworkQueue::create("test.net", clock);
    auto listener = TlsListener::create(network->context(),
                                        QuibTransport::parameters("ABCDEF", QuibTransport::Derivation::current()),
                                        asio::ip::make_address("127.0.0.1"), 0, clock);
    ASSERT_TRUE(listener);
    std::atomic<int> delivered{0};
    std::vector<std::shared_ptr<TlsConnection>> kept;
    (void)network->sync([&] {
        (*listener)->setNewConnectionHandler([&](std::shared_ptr<TlsConnection> connection) {
            kept.push_back(std::move(connection));
            ++delivered;
        });
        (*listener)->setNewConnectionLimit(8);
        (*listener)->start();
    });

    asio::io_context io;
    std::vector<asio::ip::tcp::socket> peers;
    for (int i = 0; i < 6; ++i) peers.emplace_back(io).open(asio::ip::tcp::v4());
    std::vector<int> fillers;
    {
        DescriptorLimit limit(fillDescriptorGaps(fillers));
        for (auto& peer : peers) peer.connect({asio::ip::make_address("127.0.0.1"), (*listener)->port()});
        ASSERT_TRUE(eventually([&] { return log->contains("cannot take connections"); }));
        const int before = delivered.load();
        EXPECT_EQ(before, 0);
        clock->advance(100ms);  // tries again, fails again, waits longer: said only once
        // The retry runs on the network queue; a busy machine may take a while to get to it.
        EXPECT_TRUE(eventually([&] { return clock->pendingTimers() == 1u; }));
        EXPECT_EQ(delivered.load(), 0);
    }
    for (int fd : fillers) ::close(fd);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(delivered.load(), 0);  // descriptors are free, but the pause is not over
    clock->advance(200ms);
    EXPECT_TRUE(eventually([&] { return delivered.load() == 6; }));
    EXPECT_TRUE(log->contains("takes connections again"));
    std::size_t said = 0;
    for (const auto& line : log->lines()) said += line.find("cannot take connections") != std::string::npos;
    EXPECT_EQ(said, 1u);
    (void)network->sync([&] {
        (*listener)->cancel();
        kept.clear();
    });
    network->shutdown();
    Logger::setSink(previous);
}

}  // namespace
}  // namespace quib
