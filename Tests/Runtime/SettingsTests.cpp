#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "Runtime/AtomicFile.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/Settings.hpp"
#include "Tests/Support/FakeSleeper.hpp"
#include "Tests/Support/ScratchFolder.hpp"

using namespace quib;
namespace fs = std::filesystem;

namespace {
fs::path freshFolder(const std::string& name) {
    fs::path folder = fs::temp_directory_path() / ("quib-settings-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    return folder;
}
std::string fileText(const fs::path& path) { return quib::testing::fileContents(path); }
}  // namespace

TEST(Settings, ValuesOfTheWrongTypeReadAsAbsent) {
    auto s = Settings::inMemory();
    (void)s->setString("quib.name", "desk");
    (void)s->setInteger("quib.port", 61413);
    (void)s->setBool("quib.away.enabled", true);
    (void)s->setReal("quib.ratio", 0.5);
    (void)s->setBytes("quib.blob", Bytes{1, 2, 3});
    EXPECT_EQ(s->string("quib.name"), "desk");
    EXPECT_EQ(s->integer("quib.name"), std::nullopt);
    EXPECT_EQ(s->integer("quib.port"), 61413);
    EXPECT_EQ(s->real("quib.port"), 61413.0);
    EXPECT_EQ(s->string("quib.port"), std::nullopt);
    EXPECT_EQ(s->boolean("quib.away.enabled"), true);
    EXPECT_EQ(s->integer("quib.away.enabled"), std::nullopt);
    EXPECT_EQ(s->integer("quib.ratio"), std::nullopt);
    EXPECT_EQ(s->bytes("quib.blob"), (Bytes{1, 2, 3}));
    EXPECT_EQ(s->string("quib.blob"), std::nullopt);
    (void)s->remove("quib.name");
    EXPECT_FALSE(s->contains("quib.name"));
}

TEST(Settings, StringListReadsOnlyAnArrayOfStrings) {
    const fs::path folder = freshFolder("lists");
    fs::create_directories(folder);
    std::ofstream(folder / "defaults.json") << R"({"servers": ["a:1", "b:2"], "empty": [], "mixed": ["a:1", 3],)"
                                               R"( "text": "a:1"})";
    auto s = Settings::atPath(folder / "defaults.json");
    EXPECT_EQ(s->stringList("servers"), (std::vector<std::string>{"a:1", "b:2"}));
    EXPECT_EQ(s->stringList("empty"), std::vector<std::string>{});
    EXPECT_EQ(s->stringList("mixed"), std::nullopt);
    EXPECT_EQ(s->stringList("text"), std::nullopt);
    EXPECT_EQ(s->stringList("absent"), std::nullopt);
    fs::remove_all(folder);
}

TEST(Settings, FileIsReadableJsonAndSurvivesReopening) {
    const fs::path folder = freshFolder("reopen");
    const fs::path path = folder / "Quib" / "defaults.json";
    {
        auto s = Settings::atPath(path);
        (void)s->setString("quib.serviceName", "Desk");
        (void)s->setBytes("quib.devices.approved.v1", bytesOf("[]\n"));
        (void)s->setInteger("quib.port", 5000);
    }
    const auto json = nlohmann::json::parse(fileText(path));
    EXPECT_EQ(json["quib.serviceName"], "Desk");
    EXPECT_EQ(json["quib.devices.approved.v1"]["data"], "W10K");
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    auto reopened = Settings::atPath(path);
    EXPECT_EQ(reopened->string("quib.serviceName"), "Desk");
    EXPECT_EQ(reopened->bytes("quib.devices.approved.v1"), bytesOf("[]\n"));
    EXPECT_EQ(reopened->integer("quib.port"), 5000);
    fs::remove_all(folder);
}

TEST(Settings, UnreadableFileIsSetAsideNeverOverwritten) {
    const fs::path folder = freshFolder("unreadable");
    fs::create_directories(folder);
    const fs::path path = folder / "defaults.json";
    std::ofstream(path) << "{ not json";
    auto s = Settings::atPath(path);
    EXPECT_FALSE(s->contains("anything"));
    (void)s->setBool("quib.listening", true);

    int asideCount = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with("defaults.json.unreadable-")) {
            ++asideCount;
            EXPECT_EQ(fileText(entry.path()), "{ not json");
        }
    }
    EXPECT_EQ(asideCount, 1);
    EXPECT_EQ(Settings::atPath(path)->boolean("quib.listening"), true);
    fs::remove_all(folder);
}

// Opening a FIFO in the file's place waited for a writer for ever, and a link to /dev/zero was
// read until memory ran out; neither is read, and a file past the size limit is not either.
// Each is set aside, so that the first change writes a fresh file.
TEST(Settings, OnlyARegularFileOfBoundedSizeIsReadTheRestIsSetAside) {
    quib::testing::ScratchFolder scratch("quib-settings-odd");
    const fs::path path = scratch.path / "defaults.json";
    const auto opensPromptly = [&] {
        auto opened = std::make_shared<std::promise<std::shared_ptr<Settings>>>();
        auto ready = opened->get_future();
        std::thread([opened, path] { opened->set_value(Settings::atPath(path)); }).detach();
        if (ready.wait_for(std::chrono::seconds(5)) != std::future_status::ready) return false;
        auto settings = ready.get();
        EXPECT_FALSE(settings->contains("quib.port"));
        EXPECT_TRUE(settings->setInteger("quib.port", 5000));
        return true;
    };
    const auto keptAside = [&] {
        std::vector<fs::path> aside;
        for (const auto& entry : fs::directory_iterator(scratch.path))
            if (entry.path().filename().string().starts_with("defaults.json.unreadable-"))
                aside.push_back(entry.path());
        return aside;
    };

    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    ASSERT_TRUE(opensPromptly()) << "opening a FIFO blocked";
    fs::create_symlink("/dev/zero", scratch.path / "zero");
    fs::remove(path);
    fs::create_symlink(scratch.path / "zero", path);
    ASSERT_TRUE(opensPromptly()) << "a link to /dev/zero was read on";
    fs::remove(path);
    std::ofstream(path) << R"({"quib.port": 7000, "quib.pad": ")" << std::string(Settings::largestFile, 'x') << "\"}";
    ASSERT_TRUE(opensPromptly());

    const auto aside = keptAside();
    ASSERT_EQ(aside.size(), 3u);
    EXPECT_EQ(Settings::atPath(path)->integer("quib.port"), 5000);
    for (const auto& kept : aside) {
        if (fs::is_symlink(kept)) continue;
        EXPECT_TRUE(fs::is_fifo(kept) || fs::file_size(kept) > Settings::largestFile) << kept;
    }
}

// The change stays in memory and its caller learns why it is not on disk; the next change that
// is written saves both. A change that would grow the file past what is read back is not written.
TEST(Settings, FailedWriteIsReportedAndTheChangeKeptForTheNextWrite) {
    quib::testing::ScratchFolder scratch("quib-settings-full");
    const fs::path path = scratch.path / "defaults.json";
    bool diskFull = false;
    auto settings = Settings::atPath(path, [&](const fs::path& at, std::string_view contents) -> Result<void> {
        if (diskFull) return fail("No space left on device");
        return writeFileAtomically(at, contents);
    });
    ASSERT_TRUE(settings->setString("quib.name", "desk"));
    diskFull = true;
    const auto failed = settings->setString("quib.revoked", "PHONE-1");
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().message, "No space left on device");
    EXPECT_FALSE(settings->remove("quib.name"));
    EXPECT_EQ(settings->string("quib.revoked"), "PHONE-1");
    EXPECT_FALSE(Settings::atPath(path)->contains("quib.revoked"));

    // The same change again is no change to the store, but the file still lacks it.
    diskFull = false;
    EXPECT_TRUE(settings->setString("quib.revoked", "PHONE-1"));
    EXPECT_EQ(Settings::atPath(path)->string("quib.revoked"), "PHONE-1");
    EXPECT_TRUE(settings->setBool("quib.listening", true));
    auto reopened = Settings::atPath(path);
    EXPECT_EQ(reopened->string("quib.revoked"), "PHONE-1");
    EXPECT_FALSE(reopened->contains("quib.name"));

    const auto huge = settings->setString("quib.pad", std::string(Settings::largestFile, 'x'));
    ASSERT_FALSE(huge);
    EXPECT_EQ(huge.error().message, "The settings would take 17 MB, more than the 16 MB that are read back");
    EXPECT_FALSE(Settings::atPath(path)->contains("quib.pad"));
}

// Deep nesting once crashed every start; such a file is now unreadable like any other.
TEST(Settings, FileNestedTooDeepIsSetAsideInsteadOfCrashing) {
    const fs::path folder = freshFolder("deep");
    fs::create_directories(folder);
    const fs::path path = folder / "defaults.json";
    const std::string deep = "{\"quib.a\":" + std::string(100000, '[') + std::string(100000, ']') + ",\"quib.b\":0}";
    std::ofstream(path) << deep;
    auto s = Settings::atPath(path);
    EXPECT_FALSE(s->contains("quib.b"));
    bool kept = false;
    for (const auto& entry : fs::directory_iterator(folder))
        kept = kept || entry.path().filename().string().starts_with("defaults.json.unreadable-");
    EXPECT_TRUE(kept);
    fs::remove_all(folder);
}

TEST(Settings, FileThatCannotBeOpenedIsSetAsideNotReplaced) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    const fs::path folder = freshFolder("no-permission");
    fs::create_directories(folder);
    const fs::path path = folder / "defaults.json";
    std::ofstream(path) << R"({"quib.port": 5000})";
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    auto s = Settings::atPath(path);
    (void)s->setBool("quib.listening", true);

    int asideCount = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (!entry.path().filename().string().starts_with("defaults.json.unreadable-")) continue;
        ++asideCount;
        ::chmod(entry.path().c_str(), 0600);
        EXPECT_EQ(fileText(entry.path()), R"({"quib.port": 5000})");
    }
    EXPECT_EQ(asideCount, 1);
    fs::remove_all(folder);
}

TEST(Settings, ConcurrentWritersLoseNothing) {
    const fs::path folder = freshFolder("threads");
    const fs::path path = folder / "defaults.json";
    auto s = Settings::atPath(path);
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) (void)s->setInteger("k" + std::to_string(t) + "." + std::to_string(i), i);
        });
    for (auto& w : writers) w.join();
    auto reopened = Settings::atPath(path);
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 20; ++i) EXPECT_EQ(reopened->integer("k" + std::to_string(t) + "." + std::to_string(i)), i);
    fs::remove_all(folder);
}

TEST(Settings, MoveValueKeepsAnyValueExactlyAndNeverOverwrites) {
    const fs::path folder = freshFolder("move");
    {
        auto s = Settings::atPath(folder / "defaults.json");
        (void)s->setBytes("quib.list", Bytes{'[', '1'});
        (void)s->setString("quib.list.aside", "older");
        EXPECT_FALSE(s->moveValue("quib.list", "quib.list.aside"));
        EXPECT_FALSE(s->moveValue("quib.missing", "quib.elsewhere"));
        EXPECT_TRUE(s->moveValue("quib.list", "quib.list.aside-2"));
        EXPECT_FALSE(s->contains("quib.list"));
    }
    auto reopened = Settings::atPath(folder / "defaults.json");
    EXPECT_EQ(reopened->bytes("quib.list.aside-2"), (Bytes{'[', '1'}));
    EXPECT_EQ(reopened->string("quib.list.aside"), "older");
    fs::remove_all(folder);
}

// A reader never waits for the disk: while a write is held up, values read at once.
TEST(Settings, ReadersDoNotWaitForAWriteAndTheLastChangeWins) {
    const fs::path folder = freshFolder("slow-writer");
    std::promise<void> entered, release;
    auto releaseFuture = release.get_future().share();
    std::atomic<int> writes{0};
    auto settings = Settings::atPath(folder / "defaults.json", [&](const fs::path& path, std::string_view contents) {
        if (writes++ == 0) {
            entered.set_value();
            releaseFuture.wait();
        }
        return writeFileAtomically(path, contents);
    });
    std::thread writer([&] { (void)settings->setString("quib.serviceName", "First"); });
    entered.get_future().wait();
    // The first write is stuck on the disk; reading and changing go on meanwhile.
    EXPECT_EQ(settings->string("quib.serviceName"), "First");
    EXPECT_EQ(settings->integer("quib.port"), std::nullopt);
    std::thread second([&] { (void)settings->setString("quib.serviceName", "Second"); });
    EXPECT_TRUE(settings->contains("quib.serviceName"));
    release.set_value();
    writer.join();
    second.join();
    EXPECT_EQ(Settings::atPath(folder / "defaults.json")->string("quib.serviceName"), "Second");
    fs::remove_all(folder);
}

TEST(Settings, SeveralValuesAreWrittenOnceAndLeftoverTemporariesAreRemoved) {
    const fs::path folder = freshFolder("many");
    fs::create_directories(folder);
    const fs::path leftover = folder / ".defaults.json.Ab3dE9";
    std::ofstream(leftover) << "{ half";
    const fs::path unrelated = folder / ".other.json.Ab3dE9";
    std::ofstream(unrelated) << "{}";
    int writes = 0;
    auto settings = Settings::atPath(folder / "defaults.json", [&](const fs::path& path, std::string_view contents) {
        ++writes;
        return writeFileAtomically(path, contents);
    });
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_TRUE(fs::exists(unrelated));
    (void)settings->setMany({{"quib.a", SettingValue(std::string("x"))}, {"quib.b", SettingValue(true)}});
    EXPECT_EQ(writes, 1);
    // Values the file already holds cost no write, nor does removing what is not there.
    EXPECT_TRUE(settings->setMany({{"quib.b", SettingValue(true)}, {"quib.a", SettingValue(std::string("x"))}}));
    EXPECT_TRUE(settings->remove("quib.c"));
    EXPECT_EQ(writes, 1);
    EXPECT_TRUE(settings->setBool("quib.b", false));
    EXPECT_TRUE(settings->setBool("quib.b", true));
    EXPECT_EQ(writes, 3);
    auto reopened = Settings::atPath(folder / "defaults.json");
    EXPECT_EQ(reopened->string("quib.a"), "x");
    EXPECT_EQ(reopened->boolean("quib.b"), true);
    fs::remove_all(folder);
}

namespace {
// Routes the log into a sink for the life of the test.
struct CapturedLog {
    std::shared_ptr<CapturingLogSink> sink = std::make_shared<CapturingLogSink>();
    std::shared_ptr<LogSink> previous = Logger::setSink(sink);
    ~CapturedLog() { Logger::setSink(previous); }
    int count(std::string_view text) const {
        int n = 0;
        for (const auto& line : sink->lines()) n += line.find(text) != std::string::npos;
        return n;
    }
};

// A rewrite in place, as a text editor may save: the same file, new contents.
void rewrite(const fs::path& path, std::string_view text) { std::ofstream(path, std::ios::trunc) << text; }
}  // namespace

// A trailing comma left by a hand edit once cost the user their pairing and their phones: the
// file was set aside and the host started afresh. Now only text that is not JSON at all stops
// the start, naming where, and the file stays exactly as it was; what is JSON but no object is
// still set aside, and an empty file holds no settings.
TEST(Settings, OpenRefusesTextThatIsNotJsonNamingLineAndColumnAndTouchesNothing) {
    quib::testing::ScratchFolder scratch("quib-settings-syntax");
    const fs::path path = scratch.path / "defaults.json";
    const std::string edited = "{\n  \"quib.port\": 62001,\n  \"quib.pairingCode.v1\": \"ABC234\",\n}\n";
    rewrite(path, edited);
    const auto refused = Settings::open(path);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().message.rfind(path.string() + ":4:1: syntax error while parsing object key", 0), 0u)
        << refused.error().message;
    EXPECT_EQ(fileText(path), edited);
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path), fs::directory_iterator()), 1);

    rewrite(path, "{\"a\": 1}\n\n  \"b\"");
    EXPECT_EQ(Settings::open(path).error().message.substr(path.string().size()),
              ":3:5: syntax error while parsing value - unexpected string literal; expected end of input");

    rewrite(path, " \n");
    ASSERT_TRUE(Settings::open(path));
    EXPECT_FALSE((*Settings::open(path))->contains("quib.port"));

    rewrite(path, "[1, 2]");
    auto notAnObject = Settings::open(path);
    ASSERT_TRUE(notAnObject);
    EXPECT_TRUE((*notAnObject)->setBool("quib.listening", true));
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path), fs::directory_iterator()), 2);
}

// The file is the user's as much as the host's: an edit made while the host runs is read at
// once, the host's own changes are made on the file's current contents, and a file caught
// half-edited is ignored (said once), then kept aside rather than overwritten by a change.
TEST(Settings, EditsByAnotherProgramAreTakenLiveAndNeverOverwritten) {
    quib::testing::ScratchFolder scratch("quib-settings-live");
    const fs::path path = scratch.path / "defaults.json";
    CapturedLog log;
    auto settings = *Settings::open(path);
    ASSERT_TRUE(settings->setString("quib.pairingCode.v1", "ABC234"));

    rewrite(path, R"({"quib.pairingCode.v1": "ABC234", "quib.serviceName": "Desk"})");
    EXPECT_EQ(settings->string("quib.serviceName"), "Desk");
    ASSERT_TRUE(settings->setBool("quib.listening", true));
    auto reread = Settings::atPath(path);
    EXPECT_EQ(reread->string("quib.serviceName"), "Desk");
    EXPECT_EQ(reread->string("quib.pairingCode.v1"), "ABC234");
    EXPECT_EQ(reread->boolean("quib.listening"), true);

    const std::string halfEdited = R"({"quib.pairingCode.v1": "ABC234", "quib.serviceName": "Kitch)";
    rewrite(path, halfEdited);
    EXPECT_EQ(settings->string("quib.serviceName"), "Desk");
    EXPECT_EQ(settings->boolean("quib.listening"), true);
    EXPECT_EQ(log.count("keeping the values read before"), 1);

    ASSERT_TRUE(settings->setInteger("quib.port", 62001));
    std::vector<std::string> kept;
    for (const auto& entry : fs::directory_iterator(scratch.path))
        if (entry.path() != path) kept.push_back(fileText(entry.path()));
    EXPECT_EQ(kept, std::vector<std::string>{halfEdited});
    EXPECT_EQ(Settings::atPath(path)->string("quib.serviceName"), "Desk");

    rewrite(path, R"({"quib.serviceName": "Kitchen"})");
    EXPECT_EQ(settings->string("quib.serviceName"), "Kitchen");
    EXPECT_FALSE(settings->contains("quib.port"));
    ASSERT_TRUE(settings->remove("quib.serviceName"));
    EXPECT_EQ(fileText(path), "{}\n");
}

// Two processes that change the file at once (the host and a second store, as a tool would
// open) take turns: every key either of them set is in the file afterwards.
TEST(Settings, StoresSharingTheFileLoseNoKeyOfEachOther) {
    quib::testing::ScratchFolder scratch("quib-settings-shared");
    const fs::path path = scratch.path / "defaults.json";
    auto first = *Settings::open(path);
    auto second = *Settings::open(path);
    const auto writeKeys = [](const std::shared_ptr<Settings>& store, const std::string& prefix) {
        for (int i = 0; i < 40; ++i) EXPECT_TRUE(store->setInteger(prefix + std::to_string(i), i));
    };
    std::thread a(writeKeys, first, "first.");
    std::thread b(writeKeys, second, "second.");
    a.join();
    b.join();
    auto reopened = Settings::atPath(path);
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(reopened->integer("first." + std::to_string(i)), i);
        EXPECT_EQ(reopened->integer("second." + std::to_string(i)), i);
    }
}

// A value that breaks its rule falls back with a word in the log: the key, the value, the rule
// and what is used instead, once for each value it holds.
TEST(Settings, ValuesBreakingTheirRuleFallBackAndAreLoggedOnce) {
    quib::testing::ScratchFolder scratch("quib-settings-rules");
    const fs::path path = scratch.path / "defaults.json";
    rewrite(path, R"({"quib.port": 80, "quib.awayPort": "62001", "quib.away.enabled": "yes", "quib.ratio": 5,)"
                  R"( "quib.good": 1500, "quib.on": true})");
    CapturedLog log;
    auto settings = *Settings::open(path);
    const auto ratio = [&] {
        return settings->realWhere(
            "quib.ratio", [](double r) { return r < 2; }, "must be below 2", 0.5);
    };
    for (int twice = 0; twice < 2; ++twice) {
        EXPECT_EQ(settings->integerInRange("quib.port", 1025, 65535, 61413), 61413);
        EXPECT_EQ(settings->integerInRange("quib.awayPort", 1025, 65535, 61423), 61423);
        EXPECT_EQ(settings->integerInRange("quib.good", 1025, 65535, 61413), 1500);
        EXPECT_EQ(settings->integerInRange("quib.missing", 1025, 65535, 61413), 61413);
        EXPECT_FALSE(settings->flag("quib.away.enabled", false));
        EXPECT_TRUE(settings->flag("quib.on", false));
        EXPECT_EQ(ratio(), 0.5);
    }
    EXPECT_EQ(log.sink->lines(),
              (std::vector<std::string>{
                  "quib.port 80 ignored: must be a whole number from 1025 to 65535; using 61413",
                  R"(quib.awayPort "62001" ignored: must be a whole number from 1025 to 65535; using 61423)",
                  R"(quib.away.enabled "yes" ignored: must be true or false; using false)",
                  "quib.ratio 5 ignored: must be below 2; using 0.5"}));
    ASSERT_TRUE(settings->setInteger("quib.port", 99));
    EXPECT_EQ(settings->integerInRange("quib.port", 1025, 65535, 61413), 61413);
    EXPECT_EQ(log.count("quib.port 99 ignored"), 1);
}

namespace {
// Sets the file's modification time `ago` before now, as if it had been written then.
void backdate(const fs::path& path, std::chrono::seconds ago) {
    const auto then = std::chrono::system_clock::now() - ago;
    const auto seconds = std::chrono::time_point_cast<std::chrono::seconds>(then);
    const timespec times[2] = {{seconds.time_since_epoch().count(), 0}, {seconds.time_since_epoch().count(), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}
}  // namespace

// An editor that saves in place empties the file first. Caught there, the store once took the
// empty file for "no settings" and its next save wrote only its own key: the pairing code, the
// port and the targets were gone, and the editor's own text, written into the file that had been
// replaced, with them. The values are kept, and the file is not written over until it reads
// whole again; one left empty for longer than an editor takes holds nothing to keep.
TEST(Settings, EmptyFileMetWhileRunningIsASaveInProgressAndCostsNoValue) {
    quib::testing::ScratchFolder scratch("quib-settings-blank");
    const fs::path path = scratch.path / "defaults.json";
    const std::string text = R"({"quib.pairingCode.v1": "ABC234", "quib.port": 62001, "quib.targets.v1": "[]"})";
    rewrite(path, text);
    CapturedLog log;
    auto settings = *Settings::open(path);
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);

    rewrite(path, "");
    EXPECT_EQ(settings->string("quib.pairingCode.v1"), "ABC234");
    EXPECT_EQ(settings->integer("quib.port"), 62001);
    const auto saved = settings->setString("quib.devices.approved.v1", "[phone]");
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().message,
              path.string() + " is being saved by another program, so the change is kept until it reads whole again");
    struct stat during {};
    ASSERT_EQ(::stat(path.c_str(), &during), 0);
    EXPECT_EQ(during.st_ino, before.st_ino);
    EXPECT_EQ(during.st_size, 0);
    EXPECT_EQ(log.count("is empty, as an editor leaves it while saving"), 1);

    rewrite(path, R"({"quib.pairingCode.v1": "ABC234", "quib.port": 62002, "quib.targets.v1": "[]"})");
    EXPECT_EQ(settings->integer("quib.port"), 62002);
    EXPECT_EQ(settings->string("quib.devices.approved.v1"), "[phone]");
    ASSERT_TRUE(settings->setBool("quib.listening", true));
    auto reopened = Settings::atPath(path);
    EXPECT_EQ(reopened->string("quib.pairingCode.v1"), "ABC234");
    EXPECT_EQ(reopened->integer("quib.port"), 62002);
    EXPECT_EQ(reopened->string("quib.devices.approved.v1"), "[phone]");

    // Empty for longer than any save takes: written over, with every value kept.
    rewrite(path, "");
    backdate(path, Settings::blankGrace + std::chrono::seconds(1));
    ASSERT_TRUE(settings->setBool("quib.listening", false));
    EXPECT_EQ(Settings::atPath(path)->string("quib.pairingCode.v1"), "ABC234");
    EXPECT_EQ(Settings::atPath(path)->boolean("quib.listening"), false);
}

// Another program holding the folder's lock once froze every change, and the main loop with it,
// for as long as it held the lock. A change waits for it a bounded time, then is kept in memory
// and reported as a full disk is; later changes do not wait again until one gets the lock, and
// that one saves them all.
TEST(Settings, HeldFolderLockIsWaitedForABoundedTimeAndTheChangeSavedLater) {
    quib::testing::ScratchFolder scratch("quib-settings-locked");
    const fs::path path = scratch.path / "defaults.json";
    auto clock = std::make_shared<FakeClock>();
    auto sleeper = std::make_shared<FakeSleeper>(clock);
    auto settings = Settings::atPath(path);
    settings->setTiming(clock, sleeper);
    ASSERT_TRUE(settings->setString("quib.serviceName", "Desk"));

    const int folder = ::open(scratch.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    ASSERT_EQ(::flock(folder, LOCK_EX), 0);
    const MonoTime start = clock->now();
    const auto held = settings->setString("quib.pairingCode.v1", "XYZ789");
    ASSERT_FALSE(held);
    EXPECT_EQ(held.error().message, "Another program holds the lock on " + scratch.path.string() +
                                        ", so the change is kept until it can be saved");
    EXPECT_EQ(clock->now() - start, Settings::lockWait);
    EXPECT_EQ(settings->string("quib.pairingCode.v1"), "XYZ789");
    const auto waits = sleeper->sleeps().size();
    EXPECT_FALSE(settings->setInteger("quib.port", 62001));
    EXPECT_EQ(sleeper->sleeps().size(), waits);  // no second wait
    EXPECT_FALSE(Settings::atPath(path)->contains("quib.pairingCode.v1"));

    ::close(folder);
    ASSERT_TRUE(settings->setBool("quib.listening", true));
    auto reopened = Settings::atPath(path);
    EXPECT_EQ(reopened->string("quib.pairingCode.v1"), "XYZ789");
    EXPECT_EQ(reopened->integer("quib.port"), 62001);
    EXPECT_EQ(reopened->string("quib.serviceName"), "Desk");
}

// Reads once looked at the file every time (two dozen a phone's hello); now only when the folder
// reports a change, so an edit beside the running host is still taken at the next read.
TEST(Settings, ReadsLookAtTheFileOnlyAfterItsFolderReportsAChange) {
    quib::testing::ScratchFolder scratch("quib-settings-looks");
    const fs::path path = scratch.path / "defaults.json";
    auto settings = Settings::atPath(path);
    ASSERT_TRUE(settings->setString("quib.serviceName", "Desk"));
    (void)settings->string("quib.serviceName");
    const auto looked = settings->looks();
    for (int i = 0; i < 50; ++i) EXPECT_EQ(settings->string("quib.serviceName"), "Desk");
    EXPECT_EQ(settings->looks(), looked);

    { std::ofstream(scratch.path / "other.json") << "{}"; }  // another file of the folder
    EXPECT_EQ(settings->string("quib.serviceName"), "Desk");
    EXPECT_EQ(settings->looks(), looked);

    rewrite(path, R"({"quib.serviceName": "Kitchen"})");
    EXPECT_EQ(settings->string("quib.serviceName"), "Kitchen");
    ASSERT_TRUE(writeFileAtomically(path, R"({"quib.serviceName": "Hall"})"));
    EXPECT_EQ(settings->string("quib.serviceName"), "Hall");
    fs::remove(path);
    EXPECT_EQ(settings->string("quib.serviceName"), "Hall");
    EXPECT_LE(settings->looks(), looked + 4);
}
