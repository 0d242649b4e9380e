#include "Runtime/Logger.hpp"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <utility>

namespace quib {
namespace {

Mutex gSinkMutex;
std::shared_ptr<LogSink>& sinkSlot() REQUIRES(gSinkMutex) {
    static std::shared_ptr<LogSink> slot = std::make_shared<StderrLogSink>();
    return slot;
}

std::string timestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
    return buffer;
}

}  // namespace

// The sink's mutex keeps each line whole on standard error, which is the process's and no member:
// there is nothing to mark GUARDED_BY it.
void StderrLogSink::write(const LogRecord& record) {
    const std::string line = timestamp() + " [" + record.subsystem + ":" + record.category + "] " + record.text + "\n";
    MutexLock lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void CapturingLogSink::write(const LogRecord& record) {
    MutexLock lock(mutex_);
    records_.push_back(record);
}

std::vector<LogRecord> CapturingLogSink::records() const {
    MutexLock lock(mutex_);
    return records_;
}

std::vector<std::string> CapturingLogSink::lines() const {
    MutexLock lock(mutex_);
    std::vector<std::string> out;
    for (const auto& r : records_) out.push_back(r.text);
    return out;
}

bool CapturingLogSink::contains(std::string_view text) const {
    MutexLock lock(mutex_);
    for (const auto& r : records_)
        if (r.text.find(text) != std::string::npos) return true;
    return false;
}

void CapturingLogSink::clear() {
    MutexLock lock(mutex_);
    records_.clear();
}

std::string escapeControlCharacters(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            out.push_back(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
            out += escaped;
        }
    }
    return out;
}

// The whole line is escaped: the host's own text pieces hold no control characters, so only
// the values in it can change.
void Logger::emit(LogLevel level, std::string text, SourceLocation where) const {
    std::string unredacted = text;
    emit(level, std::move(text), std::move(unredacted), where);
}

void Logger::emit(LogLevel level, std::string text, std::string unredacted, SourceLocation where) const {
    auto target = sink();
    if (target)
        target->write(LogRecord{subsystem_, category_, level, escapeControlCharacters(text),
                                escapeControlCharacters(unredacted), where.file_name(), where.line(),
                                where.function_name()});
}

std::shared_ptr<LogSink> Logger::setSink(std::shared_ptr<LogSink> sink) {
    MutexLock lock(gSinkMutex);
    return std::exchange(sinkSlot(), std::move(sink));
}

std::shared_ptr<LogSink> Logger::sink() {
    MutexLock lock(gSinkMutex);
    return sinkSlot();
}

const Logger& quibLog() {
    static const Logger logger(kLogSubsystem, "host");
    return logger;
}

const Logger& perfLog() {
    static const Logger logger(kLogSubsystem, "perf");
    return logger;
}

}  // namespace quib
