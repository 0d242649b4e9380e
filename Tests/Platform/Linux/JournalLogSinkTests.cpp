#include <gtest/gtest.h>

#include "Platform/Linux/JournalLogSink.hpp"

namespace quib {
namespace {

// Every line goes through the sink that main chooses; what a test here sees is what the journal
// is handed.
struct Sent {
    std::vector<std::vector<std::string>> entries;
    JournalLogSink::Sender sender() {
        return [this](const std::vector<std::string>& fields) { entries.push_back(fields); };
    }
};

// An entry carries the priority, the identifier and the subsystem and category as fields of
// their own; a private value stays redacted unless the user allowed the journal to keep it.
TEST(JournalLogSink, EntriesCarryTheirFieldsAndPrivateValuesOnlyWhereAllowed) {
    Sent redacted, shown;
    const Logger logger("com.brenmoor.quib", "host");
    const std::string device = "PHONE-1", peer = "192.0.2.7";
    for (Sent* sent : {&redacted, &shown}) {
        auto previous = Logger::setSink(std::make_shared<JournalLogSink>(sent == &shown, sent->sender()));
        logger.error("away: ", priv(device), " from ", pub(peer));
        logger.info("took ", 3, " lines");
        logger.debug("quiet");
        Logger::setSink(previous);
    }
    ASSERT_EQ(redacted.entries.size(), 3u);
    EXPECT_EQ(redacted.entries[0],
              (std::vector<std::string>{"MESSAGE=away: <private> from 192.0.2.7", "PRIORITY=3",
                                        "SYSLOG_IDENTIFIER=quib-host", "QUIB_SUBSYSTEM=com.brenmoor.quib",
                                        "QUIB_CATEGORY=host"}));
    EXPECT_EQ(redacted.entries[1][0], "MESSAGE=took 3 lines");
    EXPECT_EQ(redacted.entries[1][1], "PRIORITY=6");
    EXPECT_EQ(redacted.entries[2][1], "PRIORITY=7");
    ASSERT_EQ(shown.entries.size(), 3u);
    EXPECT_EQ(shown.entries[0][0], "MESSAGE=away: PHONE-1 from 192.0.2.7");
}

}  // namespace
}  // namespace quib
