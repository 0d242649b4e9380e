// A phone asks the real quib-host, running headless with a tmux server of the test's own, for
// the terms of a pane that works in a git repository.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "QuibHost/Apps/TestRepository.hpp"
#include "Shared/ClientMessage.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tests/Support/TmuxServer.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::TempHome;

// The payload of the next message of this case, passing over the host's broadcasts.
Json next(PhoneClient& phone, const std::string& name) {
    while (auto line = phone.receiveLine(10s)) {
        const Json message = Json::parse(*line);
        if (message.contains(name)) return message[name].contains("_0") ? message[name]["_0"] : message[name];
    }
    return {};
}

// A repository with a feature branch, a recent source file, names no dictionary holds and a
// hash-like file name, left on a detached HEAD.
void makeProject(const testing::TestRepository& repository) {
    repository.write("na\xC3\xAFveParser.ts", "export const parse = 1;\n");
    repository.write("deadbeef1.txt", "x\n");
    repository.commitAll("start");
    repository.run({"checkout", "-q", "-b", "feature/login-form"});
    repository.write("src/UserProfileView.ts", "export function fetchUserProfile() { return 1; }\n");
    repository.commitAll("profile view");
    repository.run({"checkout", "-q", "--detach"});
}

TEST(QuibHost, APanesTermsComeFromItsRepositoryInChunks) {
    testing::TmuxServer tmux;  // before the host or any thread starts
    TempHome home;
    const testing::TestRepository repository(home.root() / "project");
    makeProject(repository);
    ASSERT_TRUE(tmux.startSession("work", repository.root()));
    auto [host, ada] = testing::startWithApprovedPhone(home);
    ASSERT_TRUE(ada.phone);
    PhoneClient& phone = *ada.phone;

    ASSERT_TRUE(phone.send(ClientMessage{ClientMessage::AddTarget{testing::workPane(tmux.idOf("work:0.0"))}}));
    EXPECT_EQ(next(phone, "toast"), "Added Work");

    ASSERT_TRUE(phone.sendLine(R"({"requestVocabulary":{"targetID":"T1"}})"));
    std::set<std::string> terms;
    for (std::int64_t sequence = 0;; ++sequence) {
        const Json chunk = next(phone, "vocabulary");
        ASSERT_TRUE(chunk.is_object()) << host->log();
        EXPECT_EQ(chunk["targetID"], "T1");
        EXPECT_EQ(chunk["sequence"], sequence);
        for (const auto& term : chunk["terms"]) terms.insert(term.get<std::string>());
        if (chunk["isFinal"] == true) break;
    }
    for (const char* term : {"feature/login-form", "UserProfileView", "Profile", "fetchUserProfile",
                             "na\xC3\xAFveParser", "deadbeef1.txt"})
        EXPECT_TRUE(terms.contains(term)) << term;
    EXPECT_FALSE(terms.contains("deadbeef1"));
    EXPECT_TRUE(
        std::none_of(terms.begin(), terms.end(), [](const std::string& term) { return term.starts_with('('); }));

    ASSERT_TRUE(phone.sendLine(R"({"requestVocabulary":{"targetID":"nope"}})"));
    EXPECT_EQ(next(phone, "error"), "Unknown target");
}

}  // namespace
}  // namespace quib
