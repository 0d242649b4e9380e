#include <gtest/gtest.h>

#include "Platform/Logger.hpp"

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
