// The real quib-host against what a hostile phone, a hostile repository or a broken home folder
// brings: targets of huge names, a burst of hellos, a settings file that is a pipe, a repository
// whose configuration names a program, tmux syntax given as a pane, a line holding a NUL byte and
// one request for the same icon sixty thousand times; and a low descriptor limit at start.

#include <sys/resource.h>
#include <sys/stat.h>

#include <fstream>
#include <latch>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "QuibHost/Apps/TestRepository.hpp"
#include "Shared/ClientMessage.hpp"
#include "Shared/QuibTarget.hpp"
#include "Tests/Platform/Linux/TestPictures.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/TmuxServer.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"

namespace quib {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::HostProcess;
using testing::TempHome;

// A field of /proc/PID/status ("VmRSS", "VmHWM"), in bytes.
std::size_t statusBytes(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (!line.starts_with(field + ":")) continue;
        std::istringstream fields(line.substr(field.size() + 1));
        std::size_t kib = 0;
        fields >> kib;
        return kib * 1024;
    }
    return 0;
}

// The payload of the next message of this case, passing over the host's broadcasts.
Json next(PhoneClient& phone, const std::string& name) {
    while (auto line = phone.receiveLine(10s)) {
        const Json message = Json::parse(*line);
        if (message.contains(name)) return message[name].contains("_0") ? message[name]["_0"] : message[name];
    }
    return {};
}

QuibTarget appNamed(std::string name) {
    QuibTarget target;
    target.id = "BIG";
    target.name = std::move(name);
    target.kind = QuibTarget::Kind::app;
    target.bundleID = "org.example.Editor";
    return target;
}

// Nine targets of 1 MB names once made every welcome too long to send, for good: each is
// refused now, and phones keep getting in, after a restart too.
TEST(QuibHost, TargetsOfHugeNamesAreRefusedAndLaterPhonesWelcomed) {
    TempHome home;
    const testing::PhoneIdentity other{"PHONE-2", "Bo's phone"};
    testing::approveBeforeStart(home, {testing::adasPhone, other});
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    auto ada = testing::welcomed(*host).phone;
    ASSERT_TRUE(ada);
    for (int i = 0; i < 9; ++i) {
        ASSERT_TRUE(ada->send(ClientMessage{ClientMessage::AddTarget{appNamed(std::string(1'000'000, 'a' + i))}}));
        EXPECT_EQ(testing::nextToastOrError(*ada), "error: That name is longer than 200 characters");
    }
    EXPECT_TRUE(testing::welcomed(*host, other).phone);
    ASSERT_TRUE(host->stop());
    host = HostProcess::start(home);
    ASSERT_TRUE(host);
    EXPECT_TRUE(testing::welcomed(*host, other).phone);
}

// Twelve phones from twelve addresses connect at once, each says hello half a second after its
// handshake and closes once welcomed, while another stays connected. There are more of them
// than slots: a newcomer waits its turn instead of pushing out one about to say hello.
TEST(QuibHost, BurstOfHellosFromTwelveAddressesIsAllWelcomed) {
    TempHome home;
    std::vector<testing::PhoneIdentity> phones;
    for (int i = 0; i < 12; ++i) phones.push_back({"BURST-" + std::to_string(i), "Phone " + std::to_string(i)});
    phones.push_back(testing::adasPhone);
    testing::approveBeforeStart(home, phones);
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    auto ada = testing::welcomed(*host).phone;
    ASSERT_TRUE(ada);

    std::vector<bool> welcomed(12);
    std::vector<std::string> failures(12);
    std::vector<std::thread> threads;
    std::latch start(12);
    for (int i = 0; i < 12; ++i) {
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            auto options = testing::phoneOptions(*host, host->pairingCode());
            options.localAddress = "127.0.0." + std::to_string(10 + i);
            options.connectTimeout = 20s;
            auto phone = PhoneClient::connect(options);
            if (!phone) return void(failures[i] = "connect: " + phone.error().message);
            std::this_thread::sleep_for(500ms);
            if (auto sent = (*phone)->sendHello(phones[i].deviceID, phones[i].name); !sent)
                return void(failures[i] = "hello: " + sent.error().message);
            if (auto welcome = (*phone)->receiveCase("welcome", 20s); !welcome)
                return void(failures[i] = "welcome: " + welcome.error().message);
            welcomed[i] = true;
            (*phone)->close();
        });
    }
    for (auto& thread : threads) thread.join();
    for (int i = 0; i < 12; ++i) EXPECT_TRUE(welcomed[i]) << phones[i].deviceID << " " << failures[i];
    ASSERT_TRUE(ada->sendLine(R"({"ping":{"nonce":1}})"));
    EXPECT_TRUE(ada->receiveCase("pong", 5s));
}

// A pipe in place of the settings file once blocked the start for ever. It is set aside as
// unreadable and the host starts on the defaults (its standard port, which another program may
// hold: then it says so instead of listening).
TEST(QuibHost, SettingsFileThatIsAPipeIsSetAsideAndTheHostStarts) {
    TempHome home;
    fs::create_directories(home.defaultsPath().parent_path());
    ASSERT_EQ(::mkfifo(home.defaultsPath().c_str(), 0600), 0);
    const fs::path log = home.root() / "host.log";
    auto host =
        testing::ChildProcess::start({QUIB_HOST_PATH},
                                     {{"XDG_CONFIG_HOME", home.configHome().string()},
                                      {"XDG_DATA_HOME", home.dataHome().string()},
                                      {"XDG_RUNTIME_DIR", home.runtimeDir().string()},
                                      {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (home.root() / "no-bus").string()},
                                      {"PULSE_SERVER", "unix:" + (home.root() / "no-pulse").string()}},
                                     log, {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS"});
    ASSERT_TRUE(host);
#if defined(__SANITIZE_ADDRESS__)
    const auto limit = 15s;  // a sanitized host starts several times slower
#else
    const auto limit = 5s;
#endif
    const auto started = std::chrono::steady_clock::now();
    bool listening = false;
    std::string printed;
    while (!listening && std::chrono::steady_clock::now() - started < limit) {
        const auto line = host->readLine(100ms);
        if (line) printed += *line + "\n";
        listening = line && line->starts_with("Port: ");
        if (!line && testing::fileContents(log).find("cannot listen") != std::string::npos) break;
    }
    const std::string said = testing::fileContents(log);
    if (said.find("cannot listen: Address already in use") == std::string::npos) {
        EXPECT_TRUE(listening) << printed << said;
    }
    EXPECT_TRUE(said.find("Settings file was unreadable") != std::string::npos) << said;
    struct stat seen {};
    EXPECT_TRUE(::stat(home.defaultsPath().c_str(), &seen) != 0 || S_ISREG(seen.st_mode));
    host->signal(SIGTERM);
    EXPECT_TRUE(host->wait(10s));
}

// The repository a pane works in names a file-system monitor in its configuration: asking for
// the pane's terms never runs it.
TEST(QuibHost, RepositorysFileSystemMonitorNeverRunsForTheVocabulary) {
    testing::TmuxServer tmux;  // before the host or any thread starts
    TempHome home;
    const testing::TestRepository repository(home.root() / "project");
    repository.write("src/ProfileView.ts", "export const view = 1;\n");
    repository.commitAll("start");
    const fs::path ran = home.root() / "ran";
    const fs::path monitor = home.root() / "monitor";
    std::ofstream(monitor) << "#!/bin/sh\necho monitor >> '" << ran.string() << "'\n";
    fs::permissions(monitor, fs::perms::owner_all);
    repository.run({"config", "core.fsmonitor", monitor.string()});
    ASSERT_TRUE(tmux.startSession("work", repository.root()));
    auto [host, ada] = testing::startWithApprovedPhone(home);
    ASSERT_TRUE(ada.phone);
    PhoneClient& phone = *ada.phone;

    ASSERT_TRUE(phone.send(ClientMessage{ClientMessage::AddTarget{testing::workPane(tmux.idOf("work:0.0"))}}));
    EXPECT_EQ(next(phone, "toast"), "Added Work");
    ASSERT_TRUE(phone.sendLine(R"({"requestVocabulary":{"targetID":"T1"}})"));
    Json chunk;
    do chunk = next(phone, "vocabulary");
    while (chunk.is_object() && chunk["isFinal"] != true);
    ASSERT_TRUE(chunk.is_object()) << host->log();
    EXPECT_FALSE(fs::exists(ran)) << testing::fileContents(ran);
}

// tmux takes "-L" for an option and once picked a pane for it, which was then stored; a line
// with a NUL byte once ended the JSON there, and the ping before it was answered.
TEST(QuibHost, TmuxOptionAsAPaneAndALineWithANulAreRefused) {
    testing::TmuxServer tmux;  // before the host or any thread starts
    TempHome home;
    ASSERT_TRUE(tmux.startSession("work", home.root()));
    auto [host, ada] = testing::startWithApprovedPhone(home);
    ASSERT_TRUE(ada.phone);
    PhoneClient& phone = *ada.phone;

    ASSERT_TRUE(phone.send(ClientMessage{ClientMessage::AddTarget{testing::workPane("-L")}}));
    EXPECT_EQ(testing::nextToastOrError(phone), "error: No tmux pane matches -L");
    EXPECT_EQ(testing::quibctl(home, {"targets"}).out.find("-L"), std::string::npos);

    ASSERT_TRUE(phone.sendLine(std::string(R"({"ping":{"nonce":20}})") + '\0' + R"({"text":1})"));
    EXPECT_EQ(testing::nextToastOrError(phone), "error: Unreadable message");
    ASSERT_TRUE(phone.sendLine(R"({"ping":{"nonce":21}})"));
    const auto pong = phone.receiveCase("pong", 5s);
    ASSERT_TRUE(pong);
    EXPECT_EQ(pong->value("nonce", Json()), 21) << "the line with the NUL was answered: " << pong->dump();
}

// The soft and hard limits of open files in /proc/PID/limits, as printed there.
std::pair<std::string, std::string> descriptorLimits(pid_t pid) {
    std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
    for (std::string line; std::getline(limits, line);) {
        if (!line.starts_with("Max open files")) continue;
        std::istringstream fields(line.substr(std::string_view("Max open files").size()));
        std::pair<std::string, std::string> found;
        fields >> found.first >> found.second;
        return found;
    }
    return {};
}

// A burst of pushes once held every descriptor of the usual soft limit, locking phones and
// quibctl out: the host takes all the system allows it, whatever soft limit it inherits.
TEST(QuibHost, RaisesAnInheritedLowDescriptorLimitToTheHardOne) {
    struct rlimit mine {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &mine), 0);
    if (mine.rlim_max <= 256 || mine.rlim_max == RLIM_INFINITY) GTEST_SKIP() << "no room below the hard limit";
    TempHome home;
    struct rlimit low = mine;
    low.rlim_cur = 256;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    auto host = HostProcess::start(home);  // inherits the low soft limit
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &mine), 0);
    ASSERT_TRUE(host);
    const std::string hard = std::to_string(mine.rlim_max);
    EXPECT_EQ(descriptorLimits(host->process().pid()), std::make_pair(hard, hard));
}

// One line asking for one app's icon 60,000 times (about 500 KB): the host answers it once and
// stays small, where it once drew and kept a row for every copy.
TEST(QuibHost, RepeatedIconRequestsLeaveTheHostSmall) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "a sanitized host's memory is mostly the sanitizer's own";
#endif
    TempHome home;
    const fs::path share = home.root() / "share";
    testing::writeFile(share / "applications" / "kitty.desktop",
                       "[Desktop Entry]\nType=Application\nExec=true\nName=kitty\nIcon=kitty\n");
    testing::writeFile(share / "icons" / "hicolor" / "index.theme",
                       "[Icon Theme]\nName=Hicolor\nDirectories=48x48/apps\n\n[48x48/apps]\nSize=48\nType=Fixed\n");
    testing::writePng(share / "icons" / "hicolor" / "48x48" / "apps" / "kitty.png", 48, 48);
    fs::create_directory_symlink("/usr/share/mime", share / "mime");
    auto [host, ada] = testing::startWithApprovedPhone(
        home, std::nullopt,
        {{"XDG_DATA_DIRS", share.string()}, {"HOME", home.root().string()}, {"GSETTINGS_BACKEND", "memory"}});
    ASSERT_TRUE(ada.phone);
    PhoneClient& phone = *ada.phone;

    std::string line = R"({"requestAppIcons":{"bundleIDs":["kitty")";
    for (int i = 1; i < 60000; ++i) line += R"(,"kitty")";
    ASSERT_TRUE(phone.sendLine(line + "]}}"));
    std::size_t rows = 0;
    for (Json chunk; (chunk = next(phone, "apps")).is_object();) {
        rows += chunk["apps"].size();
        if (chunk["isFinal"] == true) break;
    }
    EXPECT_EQ(rows, 1u);
    ASSERT_TRUE(phone.sendLine(R"({"ping":{"nonce":1}})"));
    EXPECT_TRUE(phone.receiveCase("pong", 10s));
    const pid_t pid = host->process().pid();
    EXPECT_LT(statusBytes(pid, "VmRSS"), std::size_t{200} << 20);
    EXPECT_LT(statusBytes(pid, "VmHWM"), std::size_t{200} << 20) << "at its peak";
}

}  // namespace
}  // namespace quib
