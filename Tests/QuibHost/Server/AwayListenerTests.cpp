#include "QuibHost/Server/AwayListener.hpp"

#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "Runtime/FakeClock.hpp"

namespace quib::testing {
namespace {

QuibTransport::Key key(std::string identity, std::uint8_t material) {
    return {std::move(identity), Bytes(32, material)};
}

}  // namespace

// Listeners bound to a free port of 127.0.0.1, never run: they stay in setup until cancelled.
class AwayListener : public ::testing::Test {
protected:
    using Keys = quib::AwayListener::Keys;

    std::shared_ptr<TlsListener> listener(const Keys& keys) {
        auto made = TlsListener::create(io, QuibTransport::parameters(keys, false), asio::ip::make_address("127.0.0.1"),
                                        0, clock);
        EXPECT_TRUE(made.ok());
        return made ? *made : nullptr;
    }

    asio::io_context io;
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    const Keys keys = {key("D-1", 1), key("D-2", 2)};
};

TEST_F(AwayListener, ServesOnlyTheSameKeysInAnyOrderOnTheSamePortWhileItRuns) {
    quib::AwayListener away;
    EXPECT_FALSE(away.serves({}, 61423));  // nothing listens
    away.keep(listener(keys), keys, 61423);
    EXPECT_TRUE(away.serves(keys, 61423));
    EXPECT_TRUE(away.serves({keys[1], keys[0]}, 61423));
    EXPECT_FALSE(away.serves(keys, 61424));
    EXPECT_FALSE(away.serves({keys[0]}, 61423));
    EXPECT_FALSE(away.serves({keys[0], key("D-2", 3)}, 61423));
    EXPECT_FALSE(away.serves({keys[0], keys[1], key("D-3", 3)}, 61423));
    away.listener()->cancel();
    EXPECT_FALSE(away.serves(keys, 61423));  // a cancelled one is rebuilt
}

TEST_F(AwayListener, CloseCancelsAndForgetsTheListenerItsKeysAndPort) {
    quib::AwayListener away;
    away.close();  // nothing to close
    away.setNewConnectionLimit(3);
    auto running = listener(keys);
    away.keep(running, keys, 61423);
    away.setNewConnectionLimit(3);
    EXPECT_EQ(running->newConnectionLimit(), 3);
    away.close();
    EXPECT_EQ(running->state(), TlsListener::State::cancelled);
    EXPECT_EQ(away.listener(), nullptr);
    EXPECT_EQ(away.port(), std::nullopt);
    EXPECT_FALSE(away.serves(keys, 61423));
}

}  // namespace quib::testing
