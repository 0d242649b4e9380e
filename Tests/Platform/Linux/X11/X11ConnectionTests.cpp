// Connections to the shared test display, opened, used and closed on several threads at once.

#include <gtest/gtest.h>

#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>

#include <atomic>
#include <thread>
#include <vector>

#include "Platform/Linux/X11/X11CaptureExtensions.hpp"
#include "Platform/Linux/X11/X11Connection.hpp"
#include "Tests/Support/X11/TestDisplay.hpp"

namespace quib::testing {
namespace {

// What a capture does with a connection of its own: meets the extensions, watches the root
// window's damage and the cursor, and lets go of all of it as it closes. Done on many threads at
// once, as streams start and stop while the host opens other connections, this once corrupted
// the heap.
TEST(X11Connection, ManyThreadsOpenUseAndCloseConnectionsAtOnce) {
    QUIB_REQUIRE_TEST_DISPLAY();
    constexpr int threads = 6, rounds = 40;
    std::atomic<int> used{0};
    std::vector<std::thread> workers;
    for (int worker = 0; worker < threads; ++worker) {
        workers.emplace_back([&] {
            for (int round = 0; round < rounds; ++round) {
                auto connection = X11Connection::open(testDisplayName());
                if (!connection) continue;
                connection->use([&](Display* display) {
                    if (!X11CaptureExtensions::query(display).canCapture()) return;
                    const Window root = DefaultRootWindow(display);
                    const Damage damage = XDamageCreate(display, root, XDamageReportNonEmpty);
                    XFixesSelectCursorInput(display, root, XFixesDisplayCursorNotifyMask);
                    if (XFixesCursorImage* image = XFixesGetCursorImage(display)) XFree(image);
                    XDamageDestroy(display, damage);
                    XSync(display, False);
                    ++used;
                });
            }
        });
    }
    for (auto& worker : workers) worker.join();
    EXPECT_EQ(used.load(), threads * rounds);
}

}  // namespace
}  // namespace quib::testing
