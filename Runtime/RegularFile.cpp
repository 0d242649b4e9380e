#include "Runtime/RegularFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

#include "Runtime/FileDescriptor.hpp"

namespace quib {

// Opening without blocking matters for a FIFO, whose plain open waits for a writer; the type and
// the size come from the opened file itself, so a path swapped after a check cannot slip by.
std::optional<std::string> readRegularFile(const std::filesystem::path& path, std::uintmax_t maxBytes) {
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.isOpen()) return std::nullopt;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    if (info.st_size < 0 || static_cast<std::uintmax_t>(info.st_size) > maxBytes) return std::nullopt;
    // Reading on, up to one byte past the limit, tells a file that grew past it since.
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(info.st_size) + 1);
    char buffer[65536];
    while (true) {
        const std::size_t room =
            static_cast<std::size_t>(std::min<std::uintmax_t>(sizeof buffer, maxBytes + 1 - bytes.size()));
        const ssize_t n = ::read(file.get(), buffer, room);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (bytes.size() > maxBytes) return std::nullopt;
    }
    return bytes;
}

}  // namespace quib
