#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "Runtime/MainLoop.hpp"
#include "Shared/Json.hpp"
#include "Tests/Support/TestLines.hpp"
#include "Tests/Support/TestPhone.hpp"

namespace quib::testing {

// The approved phone "D-A", past its welcome. Reading runs the main loop, where target changes
// and their replies happen; status and target broadcasts may come in between and are skipped.
class ApprovedPhone {
public:
    ApprovedPhone(std::shared_ptr<MainLoop> main, std::uint16_t port) : main_(std::move(main)), phone_("ABCDEF") {
        EXPECT_FALSE(phone_.connect(port));
        phone_.write(R"({"hello":{"_0":{"protocolVersion":23,"deviceName":"Phone","deviceID":"D-A"}}})"
                     "\n");
        EXPECT_EQ(expect("welcome")["status"]["deviceApproved"], true);
    }
    void write(const std::string& line) { phone_.write(line); }

    // The payload of the next message of this case; the cases passed over are kept in `skipped`.
    Json expect(const std::string& name, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        for (Json message = next(timeout); !message.is_null(); message = next(timeout)) {
            if (caseOf(message) == name) return message[name];
            skipped.push_back(caseOf(message));
        }
        if (timeout >= std::chrono::seconds(1)) ADD_FAILURE() << "no " << name << " came";
        return {};
    }
    // The next message that answers the phone, passing over the host's broadcasts (status,
    // targets, ways to reach it); null when none came in time.
    Json nextReply(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        for (Json message = next(timeout); !message.is_null(); message = next(timeout)) {
            const std::string name = caseOf(message);
            if (name != "status" && name != "targets" && name != "remoteAccess") return message;
            skipped.push_back(name);
        }
        return {};
    }
    bool saw(const std::string& name) const { return std::ranges::count(skipped, name) > 0; }
    // Passes over every message up to the pong of a ping sent now, once the main loop has run
    // what waits there: whatever the host sent in answer to the lines before comes first.
    void settle() {
        main_->runPending();
        const std::uint64_t nonce = ++pings_;
        phone_.write(ping(nonce));
        const auto passed = messagesBeforePong(nonce, [&] { return next(std::chrono::seconds(5)); });
        if (!passed) ADD_FAILURE() << "no pong came";
        for (const Json& message : passed.value_or(std::vector<Json>{})) skipped.push_back(caseOf(message));
    }

    std::vector<std::string> skipped;

private:
    Json next(std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        do {
            main_->runPending();
            if (auto line = phone_.readLine(std::chrono::milliseconds(2))) return Json::parse(*line);
        } while (std::chrono::steady_clock::now() < end && !phone_.isClosed());
        return {};
    }

    std::shared_ptr<MainLoop> main_;
    TestPhone phone_;
    std::uint64_t pings_ = 1'000'000'000;  // far from the nonces a test sends itself
};

}  // namespace quib::testing
