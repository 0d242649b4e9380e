#include "Platform/Linux/JournalLogSink.hpp"

#include <sys/uio.h>

// The entries say where the host wrote each line (CODE_FILE, CODE_LINE, CODE_FUNC), not where
// this sink hands them on.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace quib {
namespace {

// syslog's priorities, which the journal uses.
const char* priorityOf(LogLevel level) {
    switch (level) {
        case LogLevel::debug: return "7";
        case LogLevel::info: return "6";
        case LogLevel::warning: return "4";
        case LogLevel::error: return "3";
    }
    return "6";
}

void sendToJournal(const std::vector<std::string>& fields) {
    std::vector<iovec> parts;
    parts.reserve(fields.size());
    for (const auto& field : fields) parts.push_back(iovec{const_cast<char*>(field.data()), field.size()});
    (void)sd_journal_sendv(parts.data(), static_cast<int>(parts.size()));
}

}  // namespace

JournalLogSink::JournalLogSink(bool showPrivate, Sender sender)
    : showPrivate_(showPrivate), sender_(sender ? std::move(sender) : Sender(sendToJournal)) {}

std::vector<std::string> JournalLogSink::fieldsOf(const LogRecord& record) const {
    std::vector<std::string> fields{"MESSAGE=" + (showPrivate_ ? record.unredacted : record.text),
                                    std::string("PRIORITY=") + priorityOf(record.level),
                                    std::string("SYSLOG_IDENTIFIER=") + identifier,
                                    "QUIB_SUBSYSTEM=" + record.subsystem, "QUIB_CATEGORY=" + record.category};
    if (!record.file.empty()) {
        fields.push_back("CODE_FILE=" + record.file);
        fields.push_back("CODE_LINE=" + std::to_string(record.line));
    }
    if (!record.function.empty()) fields.push_back("CODE_FUNC=" + record.function);
    return fields;
}

void JournalLogSink::write(const LogRecord& record) { sender_(fieldsOf(record)); }

bool JournalLogSink::shouldTakeOver() {
    const char* choice = std::getenv("QUIB_LOG");
    if (choice && std::string_view(choice) == "stderr") return false;
    return ::isatty(STDERR_FILENO) == 0 && ::access("/run/systemd/journal/socket", W_OK) == 0;
}

}  // namespace quib
