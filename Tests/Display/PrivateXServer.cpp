#include "Tests/Display/PrivateXServer.hpp"

#include <csignal>
#include <cstdlib>

#include <gtest/gtest.h>
#include <unistd.h>

namespace quib::testing {

std::unique_ptr<PrivateXServer> PrivateXServer::start(const std::string& screen, const std::vector<std::string>& options) {
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
}

// SIGTERM lets the server remove its lock file and socket; to its clients it is gone all the
// same.
void PrivateXServer::kill() {
    server_.signal(SIGTERM);
    if (server_.wait(std::chrono::seconds(10))) return;
    server_.signal(SIGKILL);
    (void)server_.wait(std::chrono::seconds(10));
}

}  // namespace quib::testing
