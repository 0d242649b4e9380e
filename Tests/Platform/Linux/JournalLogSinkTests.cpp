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

// An entry carries the priority, the identifier, the subsystem and category and the place that
// wrote the line as fields of their own; a private value stays redacted unless the user allowed
// the journal to keep it.
TEST(JournalLogSink, EntriesCarryTheirFieldsAndPrivateValuesOnlyWhereAllowed) {
    Sent redacted, shown;
    const Logger logger("com.brenmoor.quib", "host");
    const std::string device = "PHONE-1", peer = "192.0.2.7";
    int errorLine = 0;
    for (Sent* sent : {&redacted, &shown}) {
        auto previous = Logger::setSink(std::make_shared<JournalLogSink>(sent == &shown, sent->sender()));
        errorLine = __LINE__ + 1;
        logger.error("away: ", priv(device), " from ", pub(peer));
        logger.warning(pub(peer), " did not answer");
        logger.info("took ", 3, " lines");
        logger.debug("quiet");
        Logger::setSink(previous);
    }
    ASSERT_EQ(redacted.entries.size(), 4u);
    const auto& first = redacted.entries[0];
    ASSERT_EQ(first.size(), 8u);
    EXPECT_EQ(
        std::vector<std::string>(first.begin(), first.begin() + 5),
        (std::vector<std::string>{"MESSAGE=away: <private> from 192.0.2.7", "PRIORITY=3", "SYSLOG_IDENTIFIER=quib-host",
                                  "QUIB_SUBSYSTEM=com.brenmoor.quib", "QUIB_CATEGORY=host"}));
    EXPECT_EQ(first[5], std::string("CODE_FILE=") + __FILE__);
    EXPECT_EQ(first[6], "CODE_LINE=" + std::to_string(errorLine));
    EXPECT_EQ(first[7], "CODE_FUNC=TestBody") << "the calling function's name, as __func__ gives it";
    const std::vector<std::pair<std::string, std::string>> rest{{"MESSAGE=192.0.2.7 did not answer", "PRIORITY=4"},
                                                                {"MESSAGE=took 3 lines", "PRIORITY=6"},
                                                                {"MESSAGE=quiet", "PRIORITY=7"}};
    for (std::size_t i = 0; i < rest.size(); ++i) {
        EXPECT_EQ(redacted.entries[i + 1][0], rest[i].first);
        EXPECT_EQ(redacted.entries[i + 1][1], rest[i].second);
    }
    ASSERT_EQ(shown.entries.size(), 4u);
    EXPECT_EQ(shown.entries[0][0], "MESSAGE=away: PHONE-1 from 192.0.2.7");
}

}  // namespace
}  // namespace quib
