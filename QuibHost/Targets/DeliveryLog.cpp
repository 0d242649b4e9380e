#include "QuibHost/Targets/DeliveryLog.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quib {
namespace {

// Writes all of `data`, going on after a short write; false when the file refuses.
bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

DeliveryLog::DeliveryLog(Config config) : config_(std::move(config)) {}

const std::optional<std::filesystem::path>& DeliveryLog::fileURL() const {
    std::call_once(located_, [this] {
        if (!config_.dataHome) return;
        const auto folder = *config_.dataHome / folderName;
        std::error_code ignored;
        std::filesystem::create_directories(*config_.dataHome, ignored);
        ::mkdir(folder.c_str(), 0700);
        fileURL_ = folder / fileName;
    });
    return fileURL_;
}

std::string DeliveryLog::line(const DeliveryReceipt& receipt, WallTime at) {
    std::string text = internetDateTime(at);
    text += receipt.ok ? "\tdelivered\t" : "\trefused\t";
    text += receipt.targetName;
    text += "\t" + std::to_string(receipt.characters) + " chars";
    text += receipt.submitted ? "\tsubmitted=yes\n" : "\tsubmitted=no\n";
    return text;
}

// Opened for appending, made when missing, and written with one call: an existing log is never
// truncated, and every line lands whole at the end even when another writer appends too.
void DeliveryLog::record(const DeliveryReceipt& receipt) {
    const auto& file = fileURL();
    if (!file) return;
    const std::string text = line(receipt, config_.clock->wallNow());
    std::lock_guard guard(lock_);
    const int fd = ::open(file->c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    (void)writeAll(fd, text);
    ::close(fd);
}

std::optional<std::filesystem::path> DeliveryLog::reveal() {
    const auto& file = fileURL();
    if (!file) return std::nullopt;
    {
        std::lock_guard guard(lock_);
        create(*file, "");
    }
    if (config_.revealer) config_.revealer->reveal(*file);
    return file;
}

void DeliveryLog::create(const std::filesystem::path& at, std::string_view with) {
    const int fd = ::open(at.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return;
    (void)writeAll(fd, with);
    ::close(fd);
}

}  // namespace quib
