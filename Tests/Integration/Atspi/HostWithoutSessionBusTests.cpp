// The real host on the test display without a session bus: it never starts AT-SPI, whose library
// would have libdbus launch a bus for the display that outlives the host, and then abort the
// host at its next call.

#include <gtest/gtest.h>

#include <filesystem>

#include "Tests/Support/Process/HostProcess.hpp"
#include "Tests/Support/X11/TestDisplay.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"

namespace quib {
namespace {

using testing::TempHome;

TEST(AtspiMenus, WithoutASessionBusTheHostNeedsAccessibilityAndStartsNoBus) {
    QUIB_REQUIRE_TEST_DISPLAY();
    TempHome home;
    // Where libdbus would note a bus it launched for the display.
    auto [host, ada] =
        testing::startWithApprovedPhone(home, testing::testDisplayName(), {{"HOME", home.root().string()}});
    ASSERT_TRUE(ada.phone);

    const Json request{{"requestMenu", {{"bundleID", "quibbars-editor"}, {"refresh", true}}}};
    const Json unreadable{{"menu",
                           {{"_0",
                             {{"bundleID", "quibbars-editor"},
                              {"outcome", "unreadable"},
                              {"note", "Quib needs the accessibility bus (AT-SPI) to read another app's menus"}}}}}};
    for (int attempt = 0; attempt < 2; ++attempt) {
        ASSERT_TRUE(ada.phone->sendLine(request.dump()));
        EXPECT_EQ(testing::nextReply(*ada.phone), unreadable);
    }
    EXPECT_NE(host->log().find("accessibility: no session bus"), std::string::npos) << host->log();
    EXPECT_EQ(host->stop(), 0) << host->log();
    EXPECT_FALSE(std::filesystem::exists(home.root() / ".dbus"));
}

}  // namespace
}  // namespace quib
