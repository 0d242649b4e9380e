#include <gtest/gtest.h>

#include "QuibHost/Server/Neighbours/IdlePushSender.hpp"

namespace quib {
namespace {

TEST(IdlePushSender, IsConfiguredWhenTheRelaySettingParsesAsAUrl) {
    auto settings = Settings::inMemory();
    IdlePushSender push(settings);
    EXPECT_FALSE(push.isConfigured());
    for (const char* relay : {"https://relay.example/push", "http://127.0.0.1:8080/v1?key=a%20b#top", "relay",
                              "/push", "mailto:ops@example.org"}) {
        settings->setString(IdlePushSender::relayKey, relay);
        EXPECT_TRUE(push.isConfigured()) << relay;
    }
    for (const char* relay : {"", "https://relay example", "https://relay/%zz", "https://relay/%4", "1http://relay",
                              "a#b#c", "https://relay/\xc3\xa9"}) {
        settings->setString(IdlePushSender::relayKey, relay);
        EXPECT_FALSE(push.isConfigured()) << relay;
    }
    settings->setBool(IdlePushSender::relayKey, true);
    EXPECT_FALSE(push.isConfigured());
}

}  // namespace
}  // namespace quib
