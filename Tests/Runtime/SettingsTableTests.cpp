#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "Runtime/Logger.hpp"
#include "Runtime/Settings.hpp"
#include "Runtime/SettingsTable.hpp"
#include "Tests/Support/ScratchFolder.hpp"

using namespace quib;

namespace {

struct CapturedLog {
    std::shared_ptr<CapturingLogSink> sink = std::make_shared<CapturingLogSink>();
    std::shared_ptr<LogSink> previous = Logger::setSink(sink);
    ~CapturedLog() { Logger::setSink(previous); }
};

const SettingRow& rowOf(std::string_view key) {
    const auto found = std::ranges::find(settingsTable, key, &SettingRow::key);
    if (found == std::end(settingsTable)) throw std::invalid_argument("no row for " + std::string(key));
    return *found;
}

// What `Settings::get` gives for a row of a switch or a number, as text.
std::string readText(const Settings& settings, const SettingRow& row) {
    if (std::holds_alternative<SettingRow::Flag>(row.rule))
        return settings.get(SettingKey<SettingRow::Flag>(row)) ? "true" : "false";
    if (std::holds_alternative<SettingRow::Whole>(row.rule))
        return std::to_string(settings.get(SettingKey<SettingRow::Whole>(row)));
    const double real = settings.get(SettingKey<SettingRow::Real>(row));
    return std::isnan(real) ? "none" : nlohmann::json(real).dump();
}

// The README's line for a row.
std::string readmeLine(const SettingRow& row) {
    return "| `" + std::string(row.key) + "` | " + std::string(row.about) + " | " + std::string(row.typeText()) +
           " | " + row.ruleText() + " | " + row.fallbackText() + " |";
}

}  // namespace

// Each switch and number is read by its row: a value in the rule is taken, one outside it gives
// the row's fallback and the line the row gives, once; nothing stored gives the fallback unsaid.
TEST(SettingsTable, RowsReadByTheirRuleAndSayWhatTheyIgnore) {
    struct Row {
        std::string_view key;
        nlohmann::json stored;  // null: nothing stored
        std::string read;
        std::string logged;  // empty: nothing
    };
    const std::vector<Row> rows{
        {"quib.port", 80, "61413", "quib.port 80 ignored: must be a whole number from 1025 to 65535; using 61413"},
        {"quib.port", 1025, "1025", ""},
        {"quib.port", 65535, "65535", ""},
        {"quib.port", nullptr, "61413", ""},
        {"quib.awayPort", "62001", "61423",
         R"(quib.awayPort "62001" ignored: must be a whole number from 1025 to 65535; using 61423)"},
        {"quib.awayPort", 65536, "61423",
         "quib.awayPort 65536 ignored: must be a whole number from 1025 to 65535; using 61423"},
        {"quib.listenBitrate", 31999, "96000",
         "quib.listenBitrate 31999 ignored: must be a whole number from 32000 to 320000; using 96000"},
        {"quib.listenBitrate", 320000, "320000", ""},
        {"quib.away.enabled", "yes", "false", R"(quib.away.enabled "yes" ignored: must be true or false; using false)"},
        {"quib.away.enabled", true, "true", ""},
        {"quib.listen.allowed", 0, "true", "quib.listen.allowed 0 ignored: must be true or false; using true"},
        {"quib.listen.allowed", nullptr, "true", ""},
        {"quib.followPointer", nullptr, "true", ""},
        {"quib.instrument", nullptr, "false", ""},
        {"quib.log.showPrivate", "true", "false",
         R"(quib.log.showPrivate "true" ignored: must be true or false; using false)"},
        {"quib.viewerAllowance", 2, "0.12",
         "quib.viewerAllowance 2 ignored: must be a number of seconds above 0 and below 2; using 0.12"},
        {"quib.viewerAllowance", 0.5, "0.5", ""},
        {"quib.maxEncodedSide", 639.5, "2560.0",
         "quib.maxEncodedSide 639.5 ignored: must be a number from 640 up; using 2560"},
        {"quib.maxEncodedSide", 640, "640.0", ""},
        {"quib.windowCornerRadius", 40, "none",
         "quib.windowCornerRadius 40 ignored: must be a number above 0 and below 40; using the desktop's radius"},
        {"quib.windowCornerRadius", 10, "10.0", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.key) + " " + row.stored.dump());
        quib::testing::ScratchFolder scratch("quib-settings-table");
        const auto path = scratch.path / "defaults.json";
        nlohmann::json file = nlohmann::json::object();
        if (!row.stored.is_null()) file[std::string(row.key)] = row.stored;
        std::ofstream(path) << file.dump();
        auto settings = *Settings::open(path);
        CapturedLog log;
        EXPECT_EQ(readText(*settings, rowOf(row.key)), row.read);
        EXPECT_EQ(readText(*settings, rowOf(row.key)), row.read);
        EXPECT_EQ(log.sink->lines(), row.logged.empty() ? std::vector<std::string>{} : std::vector{row.logged});
    }
}

// The lines the readers of texts, lists and records log come from their rows, blanks filled.
TEST(SettingsTable, ReadersOwnLinesFillTheirBlanks) {
    EXPECT_EQ(rowOf("quib.push.relay").ignoredLine("ftp://relay"),
              "push: quib.push.relay is ignored: ftp://relay is not an http or https URL, so no alert is pushed");
    EXPECT_EQ(rowOf("quib.stunServers").ignoredLine({}),
              R"(quib.stunServers ignored: must be a list of "host:port" texts; using the built-in servers)");
    EXPECT_EQ(rowOf("quib.devices.revoked.v1").ignoredLine({}, "it is not a data value", "quib.devices.revoked.v1.x"),
              "Stored device list quib.devices.revoked.v1 was unreadable (it is not a data value); kept it as "
              "quib.devices.revoked.v1.x and started with an empty list");
    EXPECT_EQ(rowOf("quib.targets.v1").ignoredLine({}, "bad {json}", "/tmp/t.json"),
              "saved targets did not decode (bad {json}); raw JSON copied to /tmp/t.json before reseeding");
    EXPECT_EQ(rowOf("quib.serviceName").ignoredLine("x"), "");
}

// One row per key, each under the prefix; stored records and the host's own marks end in ".v1",
// switches and numbers do not.
TEST(SettingsTable, KeysAreUniqueAndNamedByTheirKind) {
    std::set<std::string_view> keys;
    for (const auto& row : settingsTable) {
        SCOPED_TRACE(std::string(row.key));
        EXPECT_TRUE(keys.insert(row.key).second);
        EXPECT_TRUE(row.key.starts_with("quib."));
        EXPECT_FALSE(row.about.empty());
        EXPECT_FALSE(row.ruleText().empty());
        const bool stored =
            std::holds_alternative<SettingRow::Record>(row.rule) || std::holds_alternative<SettingRow::Mark>(row.rule);
        const bool text = std::holds_alternative<SettingRow::Text>(row.rule);
        EXPECT_TRUE(text || row.key.ends_with(".v1") == stored);
    }
}

// The README's list of settings shows the table, row for row.
TEST(SettingsTable, ReadmeListsEveryRow) {
    std::string expected = "| key | what it is | type | accepted | default |\n|---|---|---|---|---|\n";
    for (const auto& row : settingsTable) expected += readmeLine(row) + "\n";
    const std::string readme = quib::testing::fileContents(std::filesystem::path(QUIB_SOURCE_DIR) / "README.md");
    EXPECT_NE(readme.find(expected), std::string::npos) << "the README's settings should list:\n" << expected;
}
