#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "Runtime/Logger.hpp"
#include "Runtime/SettingsTable.hpp"

namespace quib {

// Writes log lines to the systemd journal, one entry a line, with the fields a reader filters
// on: MESSAGE, PRIORITY (6 for info, 4 for warnings, 3 for errors, 7 for debug),
// SYSLOG_IDENTIFIER=quib-host, QUIB_SUBSYSTEM, QUIB_CATEGORY, and the place in the host's code
// that wrote the line (CODE_FILE, CODE_LINE, CODE_FUNC). Private
// values stay redacted unless the user allowed the journal to keep them ("quib.log.showPrivate").
class JournalLogSink final : public LogSink {
public:
    static constexpr const char* identifier = "quib-host";
    // The setting that lets the journal keep private values (device identifiers, addresses of
    // phones from away); off unless the user sets it.
    static constexpr auto showPrivateKey = setting<"quib.log.showPrivate">;

    // Hands one entry's "NAME=value" fields to the journal; sd_journal_sendv unless a test gives
    // another.
    using Sender = std::function<void(const std::vector<std::string>& fields)>;

    explicit JournalLogSink(bool showPrivate, Sender sender = nullptr);

    void write(const LogRecord& record) override;

    // The fields of one entry.
    std::vector<std::string> fieldsOf(const LogRecord& record) const;

    // The journal takes entries here (its socket exists), standard error is not a terminal
    // (where a person watches the host run, the lines stay on the terminal), and QUIB_LOG is not
    // "stderr" (which keeps them on standard error wherever it goes).
    static bool shouldTakeOver();

private:
    bool showPrivate_;
    Sender sender_;
};

}  // namespace quib
