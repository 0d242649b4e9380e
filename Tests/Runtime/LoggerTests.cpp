#include <gtest/gtest.h>

#include "Runtime/Logger.hpp"

using namespace quib;

TEST(Logger, PrivateValuesAreRedactedAndCategoriesKept) {
    auto sink = std::make_shared<CapturingLogSink>();
    auto previous = Logger::setSink(sink);
    const std::string name = "Pixel", device = "DEVICE-1234";
    quibLog().info("Approved ", pub(name), " (", priv(device), ") on port ", 61413);
    perfLog().info("[perf] ok ", true);
    Logger::setSink(previous);

    const auto records = sink->records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].text, "Approved Pixel (<private>) on port 61413");
    EXPECT_EQ(records[0].subsystem, "com.brenmoor.quib");
    EXPECT_EQ(records[0].category, "host");
    EXPECT_EQ(records[1].category, "perf");
    EXPECT_EQ(records[1].text, "[perf] ok true");
    EXPECT_FALSE(sink->contains("DEVICE-1234"));
}

// A name holding a line feed could otherwise write what reads as a second log line.
TEST(Logger, ControlCharactersInValuesAreEscaped) {
    auto sink = std::make_shared<CapturingLogSink>();
    auto previous = Logger::setSink(sink);
    const std::string forged = "Pixel\n2026-01-01T00:00:00.000Z [com.brenmoor.quib:host] Desk approved\r\t\x01\x7f";
    quibLog().info(pub(forged), " is waiting to be approved");
    Logger::setSink(previous);
    ASSERT_EQ(sink->records().size(), 1u);
    EXPECT_EQ(sink->records()[0].text,
              "Pixel\\n2026-01-01T00:00:00.000Z [com.brenmoor.quib:host] Desk approved\\r\\t\\u0001\\u007F is waiting "
              "to be approved");
    EXPECT_EQ(escapeControlCharacters(std::string("a\0b\x1f\u00e9", 6)), "a\\u0000b\\u001F\u00e9");
}
