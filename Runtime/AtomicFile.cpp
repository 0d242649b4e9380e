#include "Runtime/AtomicFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "Runtime/Clock.hpp"
#include "Runtime/FileDescriptor.hpp"

namespace quib {
namespace fs = std::filesystem;

namespace {

Error errnoError(const std::string& what, const fs::path& path) {
    return fail(what + " " + path.string() + ": " + std::strerror(errno));
}

Result<void> makeFolders(const fs::path& folder, unsigned mode) {
    if (folder.empty()) return {};
    std::error_code ec;
    if (fs::is_directory(folder, ec)) return {};
    if (auto parent = folder.parent_path(); parent != folder) {
        if (auto made = makeFolders(parent, mode); !made) return made;
    }
    if (::mkdir(folder.c_str(), mode) != 0 && errno != EEXIST) return errnoError("Cannot make folder", folder);
    if (!fs::is_directory(folder, ec)) return fail("Not a folder: " + folder.string());
    return {};
}

// Temporary files of a write are "." + the file's name + "." + six random characters.
std::string temporaryPrefix(const fs::path& path) { return "." + path.filename().string() + "."; }

}  // namespace

void removeLeftoverTemporaries(const fs::path& path) {
    const fs::path folder = path.parent_path();
    const std::string prefix = temporaryPrefix(path);
    std::error_code ec;
    for (fs::directory_iterator it(folder.empty() ? "." : folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() == prefix.size() + 6 && name.starts_with(prefix) && it->is_regular_file(ec)) {
            std::error_code ignored;
            fs::remove(it->path(), ignored);
        }
    }
}

Result<void> writeFileAtomically(const fs::path& path, std::string_view contents, unsigned mode, unsigned folderMode) {
    const fs::path folder = path.parent_path();
    if (auto made = makeFolders(folder, folderMode); !made) return made;
    std::string temp = (folder / (temporaryPrefix(path) + "XXXXXX")).string();
    FileDescriptor fd(::mkstemp(temp.data()));
    if (fd.get() < 0) return errnoError("Cannot create a temporary file in", folder);
    const bool written = ::fchmod(fd.get(), mode) == 0 && fd.writeAll(contents) && ::fsync(fd.get()) == 0;
    const int closed = ::close(fd.release());
    if (!written || closed != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
        Error error = errnoError("Cannot write", path);
        ::unlink(temp.c_str());
        return error;
    }
    FileDescriptor dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return {};
}

// The stamp is the moment in UTC with dashes for colons, which some file systems and tools refuse.
Result<fs::path> setFileAside(const fs::path& path, WallTime now) {
    std::string stamp = internetDateTime(now);
    std::ranges::replace(stamp, ':', '-');
    fs::path aside = path;
    aside += ".unreadable-" + stamp;
    for (int n = 1; fs::exists(aside); ++n) {
        aside = path;
        aside += ".unreadable-" + stamp + "-" + std::to_string(n);
    }
    if (::rename(path.c_str(), aside.c_str()) != 0) return errnoError("Cannot set aside", path);
    return aside;
}

}  // namespace quib
