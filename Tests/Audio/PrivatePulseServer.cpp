#include "Tests/Audio/PrivatePulseServer.hpp"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "Runtime/Subprocess.hpp"

namespace quib::testing {

namespace {

bool answers(const std::string& address) {
    const auto tool = quib::Subprocess::onPath("pactl", quib::Subprocess::searchPath());
    const auto env = quib::Subprocess::onPath("env", quib::Subprocess::searchPath());
    if (!tool || !env) return false;
    return quib::Subprocess::run(*env, {"PULSE_SERVER=" + address, tool->string(), "info"}, std::nullopt,
                                 std::chrono::seconds(5))
        .ok;
}

}  // namespace

std::unique_ptr<PrivatePulseServer> PrivatePulseServer::start() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quib-pulse-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return nullptr;
    const std::filesystem::path folder = pattern;
    std::ofstream(folder / "test.pa") << "load-module module-native-protocol-unix socket="
                                      << (folder / "native").string() << " auth-anonymous=1\n"
                                      << "load-module module-null-sink sink_name=quibprivate rate=48000 channels=2\n"
                                      << "set-default-sink quibprivate\n";
    auto daemon = ChildProcess::start({"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "--system=false", "-n",
                                       "-F", (folder / "test.pa").string(), "--use-pid-file=no", "--log-target=stderr"},
                                      {{"HOME", folder.string()},
                                       {"XDG_RUNTIME_DIR", folder.string()},
                                       {"XDG_CONFIG_HOME", (folder / "config").string()}},
                                      folder / "log", {"PULSE_SERVER"});
    if (!daemon) {
        ADD_FAILURE() << "cannot start pulseaudio";
        return nullptr;
    }
    auto server = std::make_unique<PrivatePulseServer>(Passkey{}, std::move(*daemon), folder);
    for (int tries = 0; tries < 50; ++tries) {
        if (answers(server->address())) return server;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ADD_FAILURE() << "pulseaudio did not answer within 5 s";
    return nullptr;
}

PrivatePulseServer::PrivatePulseServer(Passkey, ChildProcess daemon, std::filesystem::path folder)
    : daemon_(std::move(daemon)), folder_(std::move(folder)) {}

PrivatePulseServer::~PrivatePulseServer() {
    kill();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::string PrivatePulseServer::address() const { return "unix:" + (folder_ / "native").string(); }

void PrivatePulseServer::kill() {
    if (!daemon_) return;
    daemon_->signal(SIGKILL);
    (void)daemon_->wait(std::chrono::seconds(10));
    daemon_.reset();
}

}  // namespace quib::testing
