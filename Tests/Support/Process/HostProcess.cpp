#include "Tests/Support/Process/HostProcess.hpp"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "QuibHost/Server/DeviceRegistry.hpp"
#include "Shared/QuibCoder.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib::testing {

TempHome::TempHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quib-integration-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    std::filesystem::create_directories(configHome());
    std::filesystem::create_directories(dataHome());
    std::filesystem::create_directories(runtimeDir());
    std::filesystem::permissions(runtimeDir(), std::filesystem::perms::owner_all);
}

TempHome::~TempHome() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

namespace {

// Takes the value of a "Label: value" line the host printed at start.
bool valueOf(const std::string& line, std::string_view label, std::string& value) {
    if (line.rfind(label, 0) != 0) return false;
    value = line.substr(label.size());
    return true;
}

}  // namespace

// A port found free can be taken by another test's socket before the host binds it; a host the
// test placed itself is then started again on another free port.
std::unique_ptr<HostProcess> HostProcess::start(TempHome& home, std::optional<std::string> display,
                                                const std::map<std::string, std::string>& environment) {
    constexpr int attempts = 5;
    auto defaults = home.defaults();
    const bool placedHere = !defaults->contains("quib.port");
    for (int attempt = 1;; ++attempt) {
        if (placedHere) (void)defaults->setInteger("quib.port", freePort());
        bool portTaken = false;
        auto host = startOnce(home, display, environment, placedHere && attempt < attempts, portTaken);
        if (host || !portTaken) return host;
    }
}

std::unique_ptr<HostProcess> HostProcess::startOnce(TempHome& home, const std::optional<std::string>& display,
                                                    const std::map<std::string, std::string>& environment,
                                                    bool mayRetry, bool& portTaken) {
    auto host = std::make_unique<HostProcess>(Passkey{});
    host->logPath_ = home.root() / "host.log";
    std::map<std::string, std::string> variables{
        {"XDG_CONFIG_HOME", home.configHome().string()},
        {"XDG_DATA_HOME", home.dataHome().string()},
        {"XDG_RUNTIME_DIR", home.runtimeDir().string()},
        // keeps the test off any Avahi daemon of the machine
        {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (home.root() / "no-bus").string()},
        // keeps the host off the test run's sound server: it hears one only when a test names it
        {"PULSE_SERVER", "unix:" + (home.root() / "no-pulse").string()}};
    for (const auto& [name, value] : environment) variables[name] = value;
    std::vector<std::string> unset;
    if (display) variables["DISPLAY"] = *display;
    else unset.push_back("DISPLAY");
    // On a display, the host of another area's test keeps it as it was: no panel, no Qt. A test
    // of the panel says otherwise in its environment.
    if (display && !environment.contains("QUIB_TEST_HEADLESS")) variables["QUIB_TEST_HEADLESS"] = "1";
    if (!variables.contains("DBUS_SESSION_BUS_ADDRESS")) unset.push_back("DBUS_SESSION_BUS_ADDRESS");
    auto process = ChildProcess::start({QUIB_HOST_PATH}, variables, host->logPath_, unset);
    if (!process) {
        ADD_FAILURE() << "could not start " << QUIB_HOST_PATH;
        return nullptr;
    }
    host->process_.emplace(std::move(*process));
    std::string port;
    while (host->code_.empty() || port.empty() || host->name_.empty()) {
        auto line = host->process_->readLine(std::chrono::seconds(15));
        if (!line) {
            portTaken = host->log().find("cannot listen: Address already in use") != std::string::npos;
            if (mayRetry && portTaken) return nullptr;
            ADD_FAILURE() << "quib-host printed no pairing code, port and name; log:\n" << host->log();
            return nullptr;
        }
        valueOf(*line, "Pairing code: ", host->code_) || valueOf(*line, "Port: ", port) ||
            valueOf(*line, "Name: ", host->name_);
    }
    host->port_ = static_cast<std::uint16_t>(std::stoi(port));
    return host;
}

HostProcess::~HostProcess() {
    if (process_) (void)stop();
}

std::string HostProcess::log() const { return fileContents(logPath_); }

std::optional<int> HostProcess::stop() {
    process_->signal(SIGTERM);
    return process_->wait(std::chrono::seconds(10));
}

std::string hexOf(const Bytes& bytes) {
    std::string text;
    char digits[3];
    for (std::uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

PhoneClient::Options phoneOptions(const HostProcess& host, std::string pairingCode) {
    PhoneClient::Options options;
    options.host = "127.0.0.1";
    options.port = host.port();
    options.pairingCode = std::move(pairingCode);
    return options;
}

void approveBeforeStart(TempHome& home, const std::vector<PhoneIdentity>& devices) {
    const auto now = SystemClock::shared()->wallNow();
    DeviceRegistry::DeviceList approved;
    for (const auto& device : devices) approved.push_back({device.deviceID, device.name, now});
    (void)home.defaults()->setBytes(DeviceRegistry::approvedKey, bytesOf(*QuibCoder::line(approved)));
}

void saveTargetsBeforeStart(TempHome& home, const std::vector<QuibTarget>& targets) {
    (void)home.defaults()->setBytes("quib.targets.v1", bytesOf(*QuibCoder::line(targets)));
}

void setStunServersBeforeStart(TempHome& home, const std::vector<std::string>& servers) {
    nlohmann::ordered_json values = nlohmann::ordered_json::object();
    if (std::ifstream stored(home.defaultsPath()); stored) values = nlohmann::ordered_json::parse(stored);
    values["quib.stunServers"] = servers;
    std::filesystem::create_directories(home.defaultsPath().parent_path());
    std::ofstream(home.defaultsPath()) << values.dump(2) << "\n";
}

QuibTarget workPane(const std::string& pane) {
    QuibTarget work;
    work.id = "T1";
    work.name = "Work";
    work.kind = QuibTarget::Kind::tmux;
    work.tmuxTarget = pane;
    return work;
}

std::unique_ptr<PhoneClient> connectPhone(const PhoneClient::Options& options) {
    auto phone = PhoneClient::connect(options);
    if (!phone) {
        ADD_FAILURE() << phone.error().message;
        return nullptr;
    }
    return std::move(*phone);
}

Welcomed welcomed(const HostProcess& host, const PhoneIdentity& identity, std::chrono::seconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    auto options = phoneOptions(host, host.pairingCode());
    options.connectTimeout = wait;
    auto phone = connectPhone(options);
    if (!phone) return {};
    EXPECT_TRUE(phone->sendHello(identity.deviceID, identity.name));
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    auto welcome = phone->receiveCase("welcome", left);
    if (!welcome) {
        ADD_FAILURE() << welcome.error().message << "\n" << host.log();
        return {};
    }
    return {std::move(phone), *welcome};
}

HostWithPhone startWithApprovedPhone(TempHome& home, std::optional<std::string> display,
                                     const std::map<std::string, std::string>& environment,
                                     const PhoneIdentity& phone) {
    approveBeforeStart(home, {phone});
    HostWithPhone started{HostProcess::start(home, std::move(display), environment), {}};
    if (started.host) started.phone = welcomed(*started.host, phone);
    return started;
}

Json nextReply(PhoneClient& phone) {
    while (auto line = phone.receiveLine(std::chrono::seconds(10))) {
        Json message = Json::parse(*line);
        const std::string name = message.begin().key();
        if (name != "status" && name != "targets" && name != "remoteAccess") return message;
    }
    return {};
}

std::string nextToastOrError(PhoneClient& phone) {
    while (auto line = phone.receiveLine(std::chrono::seconds(10))) {
        const Json message = Json::parse(*line);
        for (const char* name : {"toast", "error"})
            if (message.contains(name)) return std::string(name) + ": " + message[name]["_0"].get<std::string>();
    }
    return "nothing";
}

Json askForMenu(PhoneClient& phone, const std::string& bundleID) {
    EXPECT_TRUE(phone.sendLine(Json{{"requestMenu", {{"bundleID", bundleID}, {"refresh", false}}}}.dump()));
    return nextReply(phone);
}

QuibctlRun quibctl(const TempHome& home, const std::vector<std::string>& args) {
    std::vector<std::string> command{QUIB_CTL_PATH};
    command.insert(command.end(), args.begin(), args.end());
    static int runs = 0;
    const auto errPath = home.root() / ("quibctl-" + std::to_string(++runs) + ".err");
    auto process = ChildProcess::start(command, {{"XDG_RUNTIME_DIR", home.runtimeDir().string()}}, errPath);
    if (!process) return {};
    QuibctlRun run;
    while (auto line = process->readLine(std::chrono::seconds(10))) run.out += *line + "\n";
    run.status = process->wait(std::chrono::seconds(10));
    run.err = fileContents(errPath);
    return run;
}

bool eventuallyShows(const TempHome& home, const std::vector<std::string>& args, const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (quibctl(home, args).out.find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

}  // namespace quib::testing
