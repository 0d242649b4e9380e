#include <cstdlib>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "Platform/Linux/AvahiServiceAdvertiser.hpp"
#include "Runtime/Logger.hpp"

namespace quib {
namespace {

// Points the system bus at a socket that does not exist, so no Avahi daemon can be reached
// whatever runs on the machine; restores the environment afterwards.
class NoSystemBus {
public:
    NoSystemBus() {
        if (const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS")) saved_ = old;
        setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/quib-test-bus", 1);
    }
    ~NoSystemBus() {
        if (saved_) setenv("DBUS_SYSTEM_BUS_ADDRESS", saved_->c_str(), 1);
        else unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }

private:
    std::optional<std::string> saved_;
};

TEST(AvahiServiceAdvertiser, WithoutADaemonLogsOnceAndGoesOn) {
    NoSystemBus noBus;
    auto sink = std::make_shared<CapturingLogSink>();
    auto previous = Logger::setSink(sink);
    {
        AvahiServiceAdvertiser advertiser;
        advertiser.advertise("Desk", 61413, ServiceAdvertiser::quibTxtRecord("Desk"));
        advertiser.withdraw();
        advertiser.advertise("Desk", 61414, ServiceAdvertiser::quibTxtRecord("Desk"));
        EXPECT_FALSE(advertiser.registeredName());
    }
    Logger::setSink(previous);
    int unavailable = 0;
    for (const auto& line : sink->lines())
        if (line.find("service advertisement unavailable") != std::string::npos) ++unavailable;
    EXPECT_EQ(unavailable, 1);
}

TEST(AvahiServiceAdvertiser, FitsNamesIntoTheByteLimitWithoutSplittingCharacters) {
    EXPECT_EQ(AvahiServiceAdvertiser::fitUtf8("Desk", 63), "Desk");
    EXPECT_EQ(AvahiServiceAdvertiser::fitUtf8(std::string(70, 'a'), 63), std::string(63, 'a'));
    // "é" is two bytes: a cut inside it drops the whole character.
    EXPECT_EQ(AvahiServiceAdvertiser::fitUtf8(std::string(62, 'a') + "é", 63), std::string(62, 'a'));
    // A four-byte emoji at the cut.
    EXPECT_EQ(AvahiServiceAdvertiser::fitUtf8("ab\xF0\x9F\x98\x80", 5), "ab");
}

}  // namespace
}  // namespace quib
