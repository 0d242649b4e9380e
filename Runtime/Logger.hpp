#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "Runtime/Mutex.hpp"
#include "Runtime/SourceLocation.hpp"

namespace quib {

// An error: something failed. A warning: the host goes on with less than it should have (no
// display, a setting ignored), or something outside it misbehaves.
enum class LogLevel { debug, info, warning, error };

// One finished log line, with private values already redacted.
struct LogRecord {
    std::string subsystem;
    std::string category;
    LogLevel level;
    std::string text;
    // The same line with its private values shown, for a sink the user allowed to keep them.
    std::string unredacted = text;
    // Where in the code the line was written.
    std::string file = {};
    std::uint_least32_t line = 0;
    std::string function = {};
};

// Where log lines go. Sinks are called from any thread.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(const LogRecord& record) = 0;
};

// Writes "<time> [<subsystem>:<category>] <text>" lines to standard error.
class StderrLogSink final : public LogSink {
public:
    void write(const LogRecord& record) override;

private:
    Mutex mutex_;
};

// Keeps every line, for tests.
class CapturingLogSink final : public LogSink {
public:
    void write(const LogRecord& record) override;
    std::vector<LogRecord> records() const;
    std::vector<std::string> lines() const;
    bool contains(std::string_view text) const;
    void clear();

private:
    mutable Mutex mutex_;
    std::vector<LogRecord> records_ GUARDED_BY(mutex_);
};

// A value that may be shown in the log (names, states, errors, local peer addresses).
template <class T>
struct LogPublic {
    const T& value;
};
// A value that must not be shown (device identifiers, addresses of peers from away): prints "<private>".
template <class T>
struct LogPrivate {
    const T& value;
};

template <class T>
LogPublic<T> pub(const T& value) {
    return {value};
}
template <class T>
LogPrivate<T> priv(const T& value) {
    return {value};
}

namespace logdetail {
// A line as it is shown, and as it is with its private values.
struct Line {
    std::ostringstream shown;
    std::ostringstream full;
    template <class T>
    void both(const T& value) {
        shown << value;
        full << value;
    }
};
inline void put(Line& out, const char* literal) { out.both(literal); }
template <class T>
requires std::is_arithmetic_v<T>
void put(Line& out, T number) {
    if constexpr (std::is_same_v<T, bool>) out.both(number ? "true" : "false");
    else out.both(+number);
}
template <class T>
void put(Line& out, LogPublic<T> v) {
    out.both(v.value);
}
template <class T>
void put(Line& out, LogPrivate<T> v) {
    out.shown << "<private>";
    out.full << v.value;
}
}  // namespace logdetail

// The first piece of a line, and where the line is written: the place a caller's piece is made
// is the caller's own, which the journal is told.
class LogFirst {
public:
    LogFirst(const char* literal, SourceLocation where = SourceLocation::current()) : where_(where) {
        logdetail::put(line_, literal);
    }
    template <class T>
    LogFirst(LogPublic<T> value, SourceLocation where = SourceLocation::current()) : where_(where) {
        logdetail::put(line_, value);
    }
    template <class T>
    LogFirst(LogPrivate<T> value, SourceLocation where = SourceLocation::current()) : where_(where) {
        logdetail::put(line_, value);
    }
    template <class T>
    requires std::is_arithmetic_v<T> LogFirst(T number, SourceLocation where = SourceLocation::current())
        : where_(where) {
        logdetail::put(line_, number);
    }

    logdetail::Line& line() { return line_; }
    const SourceLocation& where() const { return where_; }

private:
    logdetail::Line line_;
    SourceLocation where_;
};

// A named log: subsystem and category on every line. Text pieces are string literals; other
// strings must say whether they are public (`pub`) or private (`priv`); numbers print as they are.
class Logger {
public:
    Logger(std::string subsystem, std::string category)
        : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

    template <class... Parts>
    void info(LogFirst first, const Parts&... parts) const {
        log(LogLevel::info, std::move(first), parts...);
    }
    template <class... Parts>
    void debug(LogFirst first, const Parts&... parts) const {
        log(LogLevel::debug, std::move(first), parts...);
    }
    template <class... Parts>
    void warning(LogFirst first, const Parts&... parts) const {
        log(LogLevel::warning, std::move(first), parts...);
    }
    template <class... Parts>
    void error(LogFirst first, const Parts&... parts) const {
        log(LogLevel::error, std::move(first), parts...);
    }

    template <class... Parts>
    void log(LogLevel level, LogFirst first, const Parts&... parts) const {
        logdetail::Line& out = first.line();
        (logdetail::put(out, parts), ...);
        emit(level, out.shown.str(), out.full.str(), first.where());
    }

    // Writes already composed public text, its control characters escaped.
    void emit(LogLevel level, std::string text, SourceLocation where = SourceLocation::current()) const;
    // The same, with the line's private values shown in `unredacted`.
    void emit(LogLevel level, std::string text, std::string unredacted,
              SourceLocation where = SourceLocation::current()) const;

    const std::string& subsystem() const { return subsystem_; }
    const std::string& category() const { return category_; }

    // Replaces the process-wide sink; returns the previous one.
    static std::shared_ptr<LogSink> setSink(std::shared_ptr<LogSink> sink);
    static std::shared_ptr<LogSink> sink();

private:
    std::string subsystem_;
    std::string category_;
};

// `text` with every control character (C0 and DEL) written as an escape: \n, \r and \t by
// name, the rest as \u00XX. A value holding a line feed then cannot pass for a log line of
// its own, nor move a terminal's cursor.
std::string escapeControlCharacters(std::string_view text);

inline constexpr const char* kLogSubsystem = "com.brenmoor.quib";

// The host's one logger: category "host".
const Logger& quibLog();
// The timing samples' default logger: category "perf".
const Logger& perfLog();

}  // namespace quib
