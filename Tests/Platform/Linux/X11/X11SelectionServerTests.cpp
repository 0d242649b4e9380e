// Google Test first: Xlib defines None as a macro, which Google Test uses as a name.
#include <gtest/gtest.h>

#include "Platform/Linux/X11/X11SelectionServer.hpp"

namespace quib {
namespace {

// The server's clock wraps after 2^32 ms: a clipboard taken just before the wrap must still
// answer requests, and ignore stale losses, made just after it.
TEST(X11SelectionServer, OrdersServerTimesAcrossTheClocksWrap) {
    constexpr Time beforeWrap = 0xFFFFFF00;
    constexpr Time afterWrap = 0x100;
    EXPECT_TRUE(X11SelectionServer::isEarlier(beforeWrap, afterWrap));
    EXPECT_FALSE(X11SelectionServer::isEarlier(afterWrap, beforeWrap));

    EXPECT_TRUE(X11SelectionServer::isEarlier(1000, 2000));
    EXPECT_FALSE(X11SelectionServer::isEarlier(2000, 1000));
    EXPECT_FALSE(X11SelectionServer::isEarlier(1000, 1000));
}

}  // namespace
}  // namespace quib
