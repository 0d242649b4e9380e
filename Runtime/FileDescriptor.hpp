#pragma once

#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <utility>

namespace quib {

// An open file descriptor, closed when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }

    // Writes all of `data`, going on after short writes and interruptions; false when the file
    // refuses.
    bool writeAll(std::string_view data) const {
        while (!data.empty()) {
            const ssize_t n = ::write(fd_, data.data(), data.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            data.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

private:
    int fd_;
};

}  // namespace quib
