#include "Shared/SecretStore.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "Runtime/AtomicFile.hpp"
#include "Runtime/Logger.hpp"

// The fixture is named after the type under test, so the tests live outside namespace quib.
namespace secret_store_tests {

namespace fs = std::filesystem;
using quib::Bytes;
using Store = quib::SecretStore;

unsigned modeOf(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return 0;
    return info.st_mode & 07777;
}

class SecretStore : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "secret-store-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        previousSink = quib::Logger::setSink(logs);
    }
    void TearDown() override {
        quib::Logger::setSink(previousSink);
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    std::vector<fs::path> filesIn(const fs::path& folder) const {
        std::vector<fs::path> out;
        for (const auto& entry : fs::directory_iterator(folder)) out.push_back(entry.path().filename());
        std::sort(out.begin(), out.end());
        return out;
    }

    fs::path root;
    std::shared_ptr<quib::CapturingLogSink> logs = std::make_shared<quib::CapturingLogSink>();
    std::shared_ptr<quib::LogSink> previousSink;
};

TEST_F(SecretStore, WritesReadsReplacesAndDeletesInAPrivateFolder) {
    const Store store(root / "data" / "Secrets");
    const Bytes key(32, 0xAB);
    EXPECT_EQ(store.read(Store::awayService, "PHONE-1"), std::nullopt);
    EXPECT_TRUE(store.remove(Store::awayService, "PHONE-1"));

    ASSERT_TRUE(store.write(key, Store::awayService, "PHONE-1"));
    EXPECT_EQ(store.read(Store::awayService, "PHONE-1"), key);
    EXPECT_EQ(modeOf(store.folder()), 0700u);
    EXPECT_EQ(modeOf(store.fileFor(Store::awayService)), 0600u);

    const Bytes second{0x00, 0x0A, 0xFF};
    ASSERT_TRUE(store.write(second, Store::awayService, "PHONE-1"));
    EXPECT_EQ(store.read(Store::awayService, "PHONE-1"), second);
    std::ifstream in(store.fileFor(Store::awayService));
    const auto file = nlohmann::json::parse(in);
    EXPECT_EQ(file["service"], "com.brenmoor.quib.away.v1");
    EXPECT_EQ(file["accounts"], (nlohmann::json{{"PHONE-1", "AAr/"}}));

    EXPECT_TRUE(store.remove(Store::awayService, "PHONE-1"));
    EXPECT_EQ(store.read(Store::awayService, "PHONE-1"), std::nullopt);
    EXPECT_TRUE(filesIn(store.folder()).empty());
}

TEST_F(SecretStore, KeepsEveryAccountOfAServiceInOneFile) {
    const Store store(root / "Secrets");
    ASSERT_TRUE(store.write({1}, Store::awayService, "A"));
    ASSERT_TRUE(store.write({2}, Store::awayService, "B"));
    ASSERT_TRUE(store.write({3}, "../other service", "A"));
    EXPECT_EQ(filesIn(store.folder()),
              (std::vector<fs::path>{"%2E.%2Fother%20service.json", "com.brenmoor.quib.away.v1.json"}));

    EXPECT_TRUE(store.remove(Store::awayService, "A"));
    EXPECT_EQ(store.read(Store::awayService, "A"), std::nullopt);
    EXPECT_EQ(store.read(Store::awayService, "B"), Bytes{2});
    EXPECT_EQ(store.read("../other service", "A"), Bytes{3});
}

TEST_F(SecretStore, IsUsableLeavesNoProbeBehindAndTightensTheFolder) {
    const Store store(root / "Secrets");
    fs::create_directories(store.folder());
    fs::permissions(store.folder(), fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
    ASSERT_TRUE(store.write({7}, Store::awayService, "PHONE"));

    EXPECT_TRUE(store.isUsable());
    EXPECT_EQ(modeOf(store.folder()), 0700u);
    EXPECT_EQ(store.read(Store::awayService, Store::probeAccount), std::nullopt);
    EXPECT_EQ(store.read(Store::awayService, "PHONE"), Bytes{7});
}

TEST_F(SecretStore, FolderThatCannotBeMadeIsUnusable) {
    std::ofstream(root / "blocker") << "a regular file";
    const Store store(root / "blocker" / "Secrets");
    EXPECT_FALSE(store.isUsable());
    EXPECT_FALSE(store.write({1}, Store::awayService, "A"));
    EXPECT_EQ(store.read(Store::awayService, "A"), std::nullopt);
    EXPECT_TRUE(store.remove(Store::awayService, "A"));
}

TEST_F(SecretStore, DamagedFileIsKeptAsideBeforeTheNextWrite) {
    const Store store(root / "Secrets");
    ASSERT_TRUE(quib::writeFileAtomically(store.fileFor(Store::awayService), "{\"accounts\": [truncated").ok());
    EXPECT_EQ(store.read(Store::awayService, "A"), std::nullopt);

    ASSERT_TRUE(store.write({5}, Store::awayService, "A"));
    EXPECT_EQ(store.read(Store::awayService, "A"), Bytes{5});
    const auto files = filesIn(store.folder());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_TRUE(files[1].string().starts_with("com.brenmoor.quib.away.v1.json.unreadable-")) << files[1];
    std::ifstream aside(store.folder() / files[1]);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(aside), {}), "{\"accounts\": [truncated");
    EXPECT_EQ(logs->lines().size(), 1u);
}

TEST_F(SecretStore, AccountsWrittenAtOnceFromTwoThreadsAllSurvive) {
    const Store store(root / "Secrets");
    constexpr int perThread = 40;
    auto writer = [&](char thread) {
        for (int i = 0; i < perThread; ++i)
            EXPECT_TRUE(store.write({static_cast<std::uint8_t>(i)}, Store::awayService,
                                    std::string(1, thread) + std::to_string(i)));
    };
    std::thread first(writer, 'a');
    std::thread second(writer, 'b');
    first.join();
    second.join();

    for (char thread : {'a', 'b'})
        for (int i = 0; i < perThread; ++i)
            EXPECT_EQ(store.read(Store::awayService, std::string(1, thread) + std::to_string(i)),
                      Bytes{static_cast<std::uint8_t>(i)});
}

}  // namespace secret_store_tests
