// Menu shortcuts asked of the real quib-host on a machine without a display, where no app's
// menus can be read.

#include <gtest/gtest.h>

#include "Tests/Support/Process/HostProcess.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"

namespace quib {
namespace {

using testing::TempHome;

// The answer is kept under the identifier in any letter case, spelled as it was first asked.
TEST(QuibHost, MenusCannotBeReadWithoutADisplayAndTheAnswerIsKeptForAnySpelling) {
    TempHome home;
    auto [host, ada] = testing::startWithApprovedPhone(home);
    ASSERT_TRUE(ada.phone);

    const Json unreadable{{"menu",
                           {{"_0",
                             {{"bundleID", "Org.Example.Editor"},
                              {"outcome", "unreadable"},
                              {"note", "Quib needs the accessibility bus (AT-SPI) to read another app's menus"}}}}}};
    EXPECT_EQ(testing::askForMenu(*ada.phone, "Org.Example.Editor"), unreadable);
    EXPECT_EQ(testing::askForMenu(*ada.phone, "org.example.editor"), unreadable);
}

}  // namespace
}  // namespace quib
