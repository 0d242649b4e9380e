#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace quib {

// The stand-in phone's own count of its failed handshakes with one host, kept in a file between
// runs, by the host's rule: from the third failure in a row the host turns the address away for
// 2^(failures - 2) seconds (at most 300) after the last one, and an accepted hello forgets them.
// The host alone knows the truth (other clients from the same address count too, and a restart
// forgets); the ledger only tells the person roughly how long to wait.
class LockoutLedger {
public:
    using Clock = std::chrono::system_clock;

    // The ledger of the host at `host`:`port`, in `folder` (made when missing).
    LockoutLedger(std::filesystem::path folder, const std::string& host, std::uint16_t port);
    // In $XDG_RUNTIME_DIR/quib-phone, or /tmp/quib-phone-<uid> without it.
    static std::filesystem::path defaultFolder();

    // Counts a handshake the host refused at `now`; the lock it brings, in whole seconds, if any.
    std::optional<std::int64_t> failed(Clock::time_point now = Clock::now());
    // The host let the phone in.
    void succeeded();
    // The whole seconds of lock-out left at `now`, as far as the ledger knows.
    std::optional<std::int64_t> remaining(Clock::time_point now = Clock::now()) const;

private:
    struct Entry {
        std::int64_t failures = 0;
        std::int64_t lastMillis = 0;
    };
    Entry read() const;
    void write(const Entry& entry) const;

    std::filesystem::path file_;
};

}  // namespace quib
