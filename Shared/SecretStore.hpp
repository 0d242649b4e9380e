#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "Runtime/Bytes.hpp"

namespace quib {

// Small secrets (the phones' away keys) addressed by a service label and an account name.
//
// Each service is one file in a private folder (0700): a readable JSON object mapping every
// account of that service to its secret in Base64, mode 0600, replaced atomically on every
// change. A change reads, modifies and writes the whole file under one process-wide lock, so
// writers on different threads never lose each other's accounts. A file that is not a regular
// one of at most 16 MiB holding such an object reads as holding nothing, and is set aside at the
// next change. Every failure is a plain result (nothing, or false); callers decide what to tell
// the user.
class SecretStore {
public:
    // The service whose accounts are device identifiers and whose secrets are away keys.
    static constexpr std::string_view awayService = "com.brenmoor.quib.away.v1";
    // The account `isUsable` writes, reads back and deletes.
    static constexpr std::string_view probeAccount = "quib.probe";

    // $XDG_DATA_HOME/Quib/Secrets
    static std::filesystem::path defaultFolder();

    explicit SecretStore(std::filesystem::path folder = defaultFolder());

    // The secret, or nothing when there is none or it cannot be read.
    std::optional<Bytes> read(std::string_view service, std::string_view account) const;
    // True when the account now holds `data` (an existing secret is replaced).
    bool write(const Bytes& data, std::string_view service, std::string_view account) const;
    // Deletes the account's secret: true when it is gone or never existed.
    bool remove(std::string_view service, std::string_view account) const;
    // True when a probe secret can be written and read back; leaves no probe behind.
    bool isUsable() const;

    const std::filesystem::path& folder() const { return folder_; }
    // The file holding the service's accounts.
    std::filesystem::path fileFor(std::string_view service) const;

private:
    std::filesystem::path folder_;
};

}  // namespace quib
