#include "Tools/quib-phone/LockoutLedger.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "Runtime/AtomicFile.hpp"
#include "Runtime/RegularFile.hpp"
#include "Shared/Json.hpp"

namespace quib {
namespace {

constexpr std::int64_t longestLockSeconds = 300;

std::int64_t millisOf(LockoutLedger::Clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

std::optional<std::int64_t> lockSeconds(std::int64_t failures) {
    if (failures <= 2) return std::nullopt;
    if (failures - 2 >= 9) return longestLockSeconds;
    return std::min<std::int64_t>(std::int64_t{1} << (failures - 2), longestLockSeconds);
}

}  // namespace

LockoutLedger::LockoutLedger(std::filesystem::path folder, const std::string& host, std::uint16_t port) {
    std::string name = host + "-" + std::to_string(port);
    std::ranges::replace(name, '/', '_');
    file_ = std::move(folder) / (name + ".json");
}

std::filesystem::path LockoutLedger::defaultFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') return std::filesystem::path(runtime) / "quib-phone";
    return std::filesystem::path("/tmp") / ("quib-phone-" + std::to_string(::geteuid()));
}

std::optional<std::int64_t> LockoutLedger::failed(Clock::time_point now) {
    Entry entry = read();
    ++entry.failures;
    entry.lastMillis = millisOf(now);
    write(entry);
    return lockSeconds(entry.failures);
}

void LockoutLedger::succeeded() {
    std::error_code ignored;
    std::filesystem::remove(file_, ignored);
}

std::optional<std::int64_t> LockoutLedger::remaining(Clock::time_point now) const {
    const Entry entry = read();
    const auto lock = lockSeconds(entry.failures);
    if (!lock) return std::nullopt;
    const std::int64_t leftMillis = entry.lastMillis + *lock * 1000 - millisOf(now);
    if (leftMillis <= 0) return std::nullopt;
    return (leftMillis + 999) / 1000;
}

// A file that cannot be read or makes no sense counts as no failures.
LockoutLedger::Entry LockoutLedger::read() const {
    const auto text = readRegularFile(file_, 4096);
    if (!text) return {};
    const Json json = Json::parse(*text, nullptr, false);
    if (!json.is_object()) return {};
    const auto number = [&json](const char* key) {
        const auto found = json.find(key);
        return found != json.end() && found->is_number_integer() ? found->get<std::int64_t>() : std::int64_t{0};
    };
    return {.failures = number("failures"), .lastMillis = number("lastMillis")};
}

void LockoutLedger::write(const Entry& entry) const {
    const Json json{{"failures", entry.failures}, {"lastMillis", entry.lastMillis}};
    (void)writeFileAtomically(file_, json.dump() + "\n");
}

}  // namespace quib
