#include "Tests/Support/X11/PrivateXServer.hpp"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>
#include <unistd.h>

namespace quib::testing {

std::unique_ptr<PrivateXServer> PrivateXServer::start(const std::string& screen,
                                                      const std::vector<std::string>& options) {
    std::string pattern = (std::filesystem::temp_directory_path() / "quib-xvfb-XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0) return nullptr;
    ::close(fd);
    // With -displayfd the server writes its number, once it listens, to standard output.
    std::vector<std::string> command{"Xvfb", "-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp"};
    command.insert(command.end(), options.begin(), options.end());
    auto server = ChildProcess::start(command, {}, pattern);
    if (!server) {
        ADD_FAILURE() << "cannot start Xvfb";
        return nullptr;
    }
    const auto number = server->readLine(std::chrono::seconds(20));
    if (!number || number->empty()) {
        ADD_FAILURE() << "Xvfb did not say which display it took";
        return nullptr;
    }
    return std::make_unique<PrivateXServer>(Passkey{}, std::move(*server), ":" + *number, pattern);
}

PrivateXServer::PrivateXServer(Passkey, ChildProcess server, std::string name, std::filesystem::path log)
    : server_(std::move(server)), name_(std::move(name)), log_(std::move(log)) {}

PrivateXServer::~PrivateXServer() {
    kill();
    std::error_code ignored;
    std::filesystem::remove(log_, ignored);
    std::filesystem::remove(log_.string() + ".jwmrc", ignored);
    std::filesystem::remove(log_.string() + ".jwm", ignored);
}

bool PrivateXServer::startWindowManager(const std::string& configuration) {
    const std::filesystem::path rc = log_.string() + ".jwmrc";
    std::ofstream(rc) << configuration;
    auto started = ChildProcess::start({"jwm", "-f", rc.string()}, {{"DISPLAY", name_}}, log_.string() + ".jwm");
    if (!started) {
        ADD_FAILURE() << "cannot start jwm";
        return false;
    }
    windowManager_.emplace(std::move(*started));
    // A window manager says it runs by naming its check window on the root window.
    for (int tries = 0; tries < 300; ++tries) {
        auto check =
            ChildProcess::start({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, {{"DISPLAY", name_}}, "/dev/null");
        if (check) {
            const auto line = check->readLine(std::chrono::seconds(5));
            (void)check->wait(std::chrono::seconds(5));
            if (line && line->find("window id") != std::string::npos) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ADD_FAILURE() << "jwm did not come up on " << name_;
    return false;
}

// SIGTERM lets the server remove its lock file and socket; to its clients it is gone all the
// same.
void PrivateXServer::kill() {
    if (windowManager_) {
        windowManager_->signal(SIGTERM);
        (void)windowManager_->wait(std::chrono::seconds(10));
        windowManager_.reset();
    }
    server_.signal(SIGTERM);
    if (server_.wait(std::chrono::seconds(10))) return;
    server_.signal(SIGKILL);
    (void)server_.wait(std::chrono::seconds(10));
}

}  // namespace quib::testing
