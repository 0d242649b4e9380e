#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "QuibHost/Server/ServerSettings.hpp"

using namespace quib;

TEST(ServerSettings, PortOutsideTheRangeFallsBackToTheDefault) {
    auto settings = Settings::inMemory();
    EXPECT_EQ(ServerSettings::localPort(*settings), 61413);
    for (std::int64_t bad : {0LL, 1024LL, 65536LL, -5LL, 80LL}) {
        (void)settings->setInteger(ServerSettings::portKey, bad);
        EXPECT_EQ(ServerSettings::localPort(*settings), 61413) << bad;
    }
    (void)settings->setInteger(ServerSettings::portKey, 1025);
    EXPECT_EQ(ServerSettings::localPort(*settings), 1025);
    (void)settings->setInteger(ServerSettings::portKey, 65535);
    EXPECT_EQ(ServerSettings::localPort(*settings), 65535);
    (void)settings->setString(ServerSettings::portKey, "2000");
    EXPECT_EQ(ServerSettings::localPort(*settings), 61413);
}

TEST(ServerSettings, BlankServiceNameFallsBackAndANameIsKeptUntrimmed) {
    auto settings = Settings::inMemory();
    const auto missing = std::filesystem::path("/nonexistent/machine-info");
    EXPECT_EQ(ServerSettings::hostDisplayName(*settings, missing), ServerSettings::systemHostName());
    (void)settings->setString(ServerSettings::serviceNameKey, " \t  ");
    EXPECT_EQ(ServerSettings::serviceName(*settings), std::nullopt);
    EXPECT_EQ(ServerSettings::hostDisplayName(*settings, missing), ServerSettings::systemHostName());
    (void)settings->setString(ServerSettings::serviceNameKey, " Studio Mac");
    EXPECT_EQ(ServerSettings::hostDisplayName(*settings, missing), " Studio Mac");
    (void)settings->setString(ServerSettings::serviceNameKey, "\n");
    EXPECT_EQ(ServerSettings::serviceName(*settings), "\n");  // only spaces and tabs count as blank
}

class MachineInfoFile : public ::testing::Test {
protected:
    void TearDown() override { std::filesystem::remove(path); }
    void write(const std::string& text) { std::ofstream(path) << text; }
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("quib-machine-info-" + std::to_string(::getpid()));
};

TEST_F(MachineInfoFile, PrettyHostNameIsUnquotedAndPreferredToTheSystemName) {
    write("CHASSIS=laptop\nPRETTY_HOSTNAME=\"Ada's \\\"Work\\\" Laptop\"\nDEPLOYMENT=production\n");
    EXPECT_EQ(ServerSettings::prettyHostName(path), "Ada's \"Work\" Laptop");
    EXPECT_EQ(ServerSettings::hostDisplayName(*Settings::inMemory(), path), "Ada's \"Work\" Laptop");
    write("PRETTY_HOSTNAME='Single quoted'\n");
    EXPECT_EQ(ServerSettings::prettyHostName(path), "Single quoted");
    write("PRETTY_HOSTNAME=Plain\\ name\n");
    EXPECT_EQ(ServerSettings::prettyHostName(path), "Plain name");
}

TEST_F(MachineInfoFile, EmptyOrMissingPrettyNameGivesTheSystemName) {
    write("PRETTY_HOSTNAME=\"\"\n");
    EXPECT_EQ(ServerSettings::prettyHostName(path), std::nullopt);
    write("ICON_NAME=computer\n");
    EXPECT_EQ(ServerSettings::hostDisplayName(*Settings::inMemory(), path), ServerSettings::systemHostName());
}
