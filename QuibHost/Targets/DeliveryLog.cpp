#include "QuibHost/Targets/DeliveryLog.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Runtime/FileDescriptor.hpp"

namespace quib {

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
    MutexLock guard(lock_);
    const FileDescriptor fd(::open(file->c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
    if (fd.isOpen()) (void)fd.writeAll(text);
}

Result<std::filesystem::path> DeliveryLog::reveal() {
    const auto& file = fileURL();
    if (!file) return fail("The delivery log has no folder to live in.");
    {
        MutexLock guard(lock_);
        create(*file, "");
    }
    if (config_.revealer) {
        if (auto shown = config_.revealer->reveal(*file); !shown) return shown.error();
    }
    return *file;
}

void DeliveryLog::create(const std::filesystem::path& at, std::string_view with) {
    const FileDescriptor fd(::open(at.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (fd.isOpen()) (void)fd.writeAll(with);
}

}  // namespace quib
