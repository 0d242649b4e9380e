#include "Runtime/RegularFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Runtime/FileDescriptor.hpp"

namespace quib {

std::optional<std::string> readRegularFile(const std::filesystem::path& path, std::uintmax_t maxBytes) {
    auto read = readRegularFileIfPresent(path, maxBytes);
    return read ? std::move(*read) : std::nullopt;
}

// Opening without blocking matters for a FIFO, whose plain open waits for a writer; the type and
// the size come from the opened file itself, so a path swapped after a check cannot slip by.
Result<std::optional<std::string>> readRegularFileIfPresent(const std::filesystem::path& path,
                                                            std::uintmax_t maxBytes) {
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.isOpen()) {
        if (errno == ENOENT || errno == ENOTDIR) return std::optional<std::string>();
        return fail(std::string("it cannot be opened: ") + std::strerror(errno));
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) return fail(std::string("it cannot be examined: ") + std::strerror(errno));
    if (!S_ISREG(info.st_mode)) return fail("it is not a regular file");
    const auto tooLarge = [maxBytes] { return fail("it is larger than " + std::to_string(maxBytes) + " bytes"); };
    if (info.st_size < 0 || static_cast<std::uintmax_t>(info.st_size) > maxBytes) return tooLarge();
    // Reading on, up to one byte past the limit, tells a file that grew past it since.
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(info.st_size) + 1);
    char buffer[65536];
    while (true) {
        const std::size_t room =
            static_cast<std::size_t>(std::min<std::uintmax_t>(sizeof buffer, maxBytes + 1 - bytes.size()));
        const ssize_t n = ::read(file.get(), buffer, room);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(std::string("it cannot be read: ") + std::strerror(errno));
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (bytes.size() > maxBytes) return tooLarge();
    }
    return std::optional<std::string>(std::move(bytes));
}

}  // namespace quib
