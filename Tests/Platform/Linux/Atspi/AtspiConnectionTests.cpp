#include "Platform/Linux/Atspi/AtspiConnection.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <fstream>

#include "Platform/Linux/Atspi/AtspiMenuReader.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib {
namespace {

class FixedPermissions final : public Permissions {
public:
    explicit FixedPermissions(bool trusted) : trusted_(trusted) {}
    bool accessibilityTrusted() const override { return trusted_; }
    bool screenRecordingGranted() const override { return false; }
    std::string accessibilityHelp() const override { return {}; }
    std::string screenRecordingHelp() const override { return {}; }

private:
    bool trusted_;
};

// A listening Unix socket at `path`, closed with this.
struct ListeningSocket {
    explicit ListeningSocket(const std::string& path) : descriptor(::socket(AF_UNIX, SOCK_STREAM, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof(address.sun_path) - 1);
        EXPECT_EQ(::bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        ::listen(descriptor, 1);
    }
    ~ListeningSocket() { ::close(descriptor); }
    int descriptor;
};

TEST(AtspiConnection, FindsTheSessionBusByAddressOrRuntimeSocket) {
    testing::ScratchFolder runtime("atspi");
    using Environment = AtspiConnection::Environment;
    EXPECT_TRUE((Environment{"unix:path=/run/user/1000/bus", std::nullopt}.hasSessionBus()));
    EXPECT_FALSE((Environment{"", std::nullopt}.hasSessionBus()));
    EXPECT_FALSE((Environment{std::nullopt, ""}.hasSessionBus()));
    EXPECT_FALSE((Environment{std::nullopt, runtime.path.string()}.hasSessionBus()));

    std::ofstream(runtime.path / "bus") << "not a socket";
    EXPECT_FALSE((Environment{std::nullopt, runtime.path.string()}.hasSessionBus()));
    std::filesystem::remove(runtime.path / "bus");
    ListeningSocket bus((runtime.path / "bus").string());
    EXPECT_TRUE((Environment{std::nullopt, runtime.path.string()}.hasSessionBus()));
}

// libatspi would have libdbus launch a bus of its own, then abort the host on the next call.
TEST(AtspiConnection, WithoutASessionBusNeverStartsAndRunsNothing) {
    auto connection = std::make_shared<AtspiConnection>(AtspiConnection::Environment{std::nullopt, "/nonexistent"});
    AtspiMenuReader menus(connection, std::make_shared<FixedPermissions>(true));
    EXPECT_FALSE(menus.isTrusted());
    EXPECT_EQ(menus.menuBar(::getpid(), AtspiConnection::timeout), nullptr);
    bool ran = false;
    EXPECT_FALSE(connection->run([&] { ran = true; }));
    EXPECT_FALSE(ran);
    EXPECT_FALSE(connection->hasInitialised());
}

TEST(AtspiConnection, AnUntrustedHostLeavesAtspiUnstarted) {
    auto connection =
        std::make_shared<AtspiConnection>(AtspiConnection::Environment{"unix:path=/nonexistent", std::nullopt});
    AtspiMenuReader menus(connection, std::make_shared<FixedPermissions>(false));
    EXPECT_FALSE(menus.isTrusted());
    EXPECT_FALSE(connection->hasInitialised());
}

}  // namespace
}  // namespace quib
