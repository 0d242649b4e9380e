#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Runtime/Settings.hpp"
#include "Shared/QuibTarget.hpp"
#include "Tests/Support/ChildProcess.hpp"
#include "Tests/Support/FreePort.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"

namespace quib::testing {

// A private folder for one test: XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_RUNTIME_DIR of the
// processes it starts.
// Removed again when the test ends.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path configHome() const { return root_ / "config"; }
    std::filesystem::path dataHome() const { return root_ / "data"; }
    // Where the host's control socket lives (0700).
    std::filesystem::path runtimeDir() const { return root_ / "run"; }
    // The host's defaults file in this home.
    std::filesystem::path defaultsPath() const { return configHome() / "Quib" / "defaults.json"; }
    std::shared_ptr<Settings> defaults() const { return Settings::atPath(defaultsPath()); }

private:
    std::filesystem::path root_;
};

// A running quib-host in its own home, started on a free port; stopped with SIGTERM at the end.
class HostProcess {
    // Only the class's own factories can make this key, so construction goes through them.
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    explicit HostProcess(Passkey) {}
    // Starts the host and reads what it prints at start; fails the test when it does not start.
    // The host drives the X display `display` (DISPLAY); none: no display at all, whatever the
    // caller's DISPLAY says, so that no test host drives a developer's desktop. Nor does it
    // reach a session bus or a sound server unless `environment` names one
    // (DBUS_SESSION_BUS_ADDRESS, PULSE_SERVER). On a display the host runs without its panel
    // (QUIB_TEST_HEADLESS=1) unless `environment` sets QUIB_TEST_HEADLESS itself. `environment`
    // adds to or overrides the other variables the host is given.
    static std::unique_ptr<HostProcess> start(TempHome& home, std::optional<std::string> display = std::nullopt,
                                              const std::map<std::string, std::string>& environment = {});

    ~HostProcess();

    const std::string& pairingCode() const { return code_; }
    std::uint16_t port() const { return port_; }
    const std::string& name() const { return name_; }
    std::filesystem::path logPath() const { return logPath_; }
    std::string log() const;
    ChildProcess& process() { return *process_; }

    // SIGTERM, then the exit status (nothing when it did not end within 10 s).
    std::optional<int> stop();

private:
    // One start on the port in the home's defaults. With `mayRetry`, a host that could not
    // listen because the port was taken meanwhile sets `portTaken` instead of failing the test.
    static std::unique_ptr<HostProcess> startOnce(TempHome& home, const std::optional<std::string>& display,
                                                  const std::map<std::string, std::string>& environment, bool mayRetry,
                                                  bool& portTaken);

    std::optional<ChildProcess> process_;
    std::filesystem::path logPath_;
    std::string code_;
    std::uint16_t port_ = 0;
    std::string name_;
};

// What one run of quibctl printed, and how it ended (nothing when it did not end in time).
struct QuibctlRun {
    std::optional<int> status;
    std::string out;
    std::string err;
};

// Runs quibctl against the host that lives in `home` and waits for it to end.
QuibctlRun quibctl(const TempHome& home, const std::vector<std::string>& args);

// Asks quibctl until its output holds `text` (the host publishes what changed a moment later),
// for at most 10 s.
bool eventuallyShows(const TempHome& home, const std::vector<std::string>& args, const std::string& text);

// Lower-case hexadecimal, as OpenSSL's client takes a pre-shared key.
std::string hexOf(const Bytes& bytes);

// How the stand-in phone reaches this host on 127.0.0.1 with `pairingCode`.
PhoneClient::Options phoneOptions(const HostProcess& host, std::string pairingCode);

// A phone connected with `options`, past the handshake; none (the test failed) when it did not
// connect.
std::unique_ptr<PhoneClient> connectPhone(const PhoneClient::Options& options);

// Who a phone says it is in its hello.
struct PhoneIdentity {
    std::string deviceID;
    std::string name;
};

// The phone most tests drive.
inline const PhoneIdentity adasPhone{"PHONE-1", "Ada's phone"};

// Stores the devices as approved in the home's defaults, before the host starts.
void approveBeforeStart(TempHome& home, const std::vector<PhoneIdentity>& devices);

// Stores the saved targets in the home's defaults, before the host starts.
void saveTargetsBeforeStart(TempHome& home, const std::vector<QuibTarget>& targets);

// Stores the STUN servers the host asks ([] for none) in the home's defaults, before the host
// starts. The list is written into the file itself, after every other value.
void setStunServersBeforeStart(TempHome& home, const std::vector<std::string>& servers);

// A phone connected to the host with its code, past its hello, and the welcome it got, the
// connection and the welcome together within `wait`; no phone (the test failed) when either did
// not work in time.
struct Welcomed {
    std::unique_ptr<PhoneClient> phone;
    Json welcome;
};
Welcomed welcomed(const HostProcess& host, const PhoneIdentity& phone = adasPhone,
                  std::chrono::seconds wait = std::chrono::seconds(10));

// A host started with a phone approved beforehand, and that phone welcomed.
struct HostWithPhone {
    std::unique_ptr<HostProcess> host;
    Welcomed phone;
};

// Approves `phone`, starts the host as HostProcess::start does and connects the phone past its
// welcome; no phone (the test failed) when any of that did not work.
HostWithPhone startWithApprovedPhone(TempHome& home, std::optional<std::string> display = std::nullopt,
                                     const std::map<std::string, std::string>& environment = {},
                                     const PhoneIdentity& phone = adasPhone);

// The next line that answers the phone, passing over the host's broadcasts; null when none
// comes within 10 s.
Json nextReply(PhoneClient& phone);

// The text of the next toast or error, as "toast: ..." or "error: ...", passing over other
// lines; "nothing" when neither comes within 10 s.
std::string nextToastOrError(PhoneClient& phone);

// The tmux target T1, "Work", at `pane` (an identifier or an address).
QuibTarget workPane(const std::string& pane);

// Asks for the app's menu shortcuts, without a refresh, and returns the whole reply.
Json askForMenu(PhoneClient& phone, const std::string& bundleID);

}  // namespace quib::testing
