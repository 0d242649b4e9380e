#include <gtest/gtest.h>

#include "QuibHost/Panel/StoredPairingCode.hpp"
#include "Shared/PairingCode.hpp"

namespace quib {
namespace {

TEST(StoredPairingCode, KeepsAValidStoredCodeExactlyAsStored) {
    auto settings = Settings::inMemory();
    (void)settings->setString("quib.pairingCode.v1", "ab-c234");  // valid once normalized
    EXPECT_EQ(StoredPairingCode::loadOrCreate(*settings), "ab-c234");
    EXPECT_EQ(settings->string("quib.pairingCode.v1"), "ab-c234");
}

TEST(StoredPairingCode, ReplacesAMissingOrInvalidCodeWithAStoredNewOne) {
    for (const char* stored : {"", "OOO111", "ABC23", "ABCDEFG"}) {
        auto settings = Settings::inMemory();
        (void)settings->setString("quib.pairingCode.v1", stored);
        std::string code = StoredPairingCode::loadOrCreate(*settings);
        EXPECT_TRUE(PairingCode::isValid(code)) << stored;
        EXPECT_EQ(settings->string("quib.pairingCode.v1"), code) << stored;
    }
    auto empty = Settings::inMemory();
    std::string first = StoredPairingCode::loadOrCreate(*empty);
    EXPECT_EQ(StoredPairingCode::loadOrCreate(*empty), first);  // drawn once, then kept
}

TEST(StoredPairingCode, ReplacesAValueOfAnotherType) {
    auto settings = Settings::inMemory();
    (void)settings->setInteger("quib.pairingCode.v1", 123456);
    std::string code = StoredPairingCode::loadOrCreate(*settings);
    EXPECT_TRUE(PairingCode::isValid(code));
    EXPECT_EQ(settings->string("quib.pairingCode.v1"), code);
}

}  // namespace
}  // namespace quib
