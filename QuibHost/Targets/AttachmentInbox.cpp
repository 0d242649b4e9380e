#include "QuibHost/Targets/AttachmentInbox.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <system_error>
#include <vector>

#include "QuibHost/Targets/ImageSniffer.hpp"
#include "Runtime/FileDescriptor.hpp"
#include "Runtime/HostWords.hpp"
#include "Shared/UploadChannel.hpp"

namespace quib {
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t mebibyte = 1048576;

AttachmentInbox::Refusal refusal(AttachmentInbox::Refusal::Kind kind) { return {.kind = kind}; }

// One file that pruning may remove.
struct Entry {
    fs::path path;
    WallTime modified;
    std::int64_t size = 0;
};

// The regular, visible files of the folder, in listing order; nothing when it cannot be listed.
std::vector<Entry> listFiles(const fs::path& folder) {
    std::vector<Entry> entries;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const fs::path& path = it->path();
        if (path.filename().string().starts_with(".")) continue;
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        const auto modified =
            std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec);
        entries.push_back({path, WallTime(std::chrono::duration_cast<WallTime::duration>(modified)), info.st_size});
    }
    return entries;
}

// The system's words for an error number; none for 0.
std::string reasonOf(int error) { return error == 0 ? std::string() : std::system_category().message(error); }

}  // namespace

std::string AttachmentInbox::Refusal::message() const {
    switch (kind) {
        case Kind::tooLarge:
            return "That attachment is " + std::to_string(bytes / mebibyte) + " MB \u2014 the limit is " +
                   std::to_string(UploadChannel::maxAttachmentBytes / mebibyte) + " MB";
        case Kind::shortRead:
            return "That attachment said " + std::to_string(expected) + " bytes and delivered " + std::to_string(got);
        case Kind::wrongFormat: return "That attachment claimed " + claimed + " and is " + actual;
        case Kind::tooManyPixels:
            return std::to_string(width) + "\u00d7" + std::to_string(height) + " is past the " +
                   std::to_string(UploadChannel::maxPixelsPerSide) + " px limit";
        case Kind::writeFailed:
            return "Couldn't save the attachment: " + fileName + (reason.empty() ? "" : " (" + reason + ")");
        case Kind::noDirectory: return std::string(said<HostWords::product, " can't find its ", HostWords::dataFolder>);
        case Kind::empty: return "That attachment arrived empty";
        case Kind::notAnImage:
            return std::string(said<"Those bytes aren't an image ", HostWords::product, " can read">);
    }
    return {};
}

// What an earlier run left half-written, when it ended in the middle of an upload, is removed.
AttachmentInbox::AttachmentInbox(Config config) : config_(std::move(config)) {
    if (config_.dataHome) removeTemporaries(*config_.dataHome / folderName / inboxName);
}

const std::optional<fs::path>& AttachmentInbox::directory() const {
    std::call_once(located_, [this] {
        if (!config_.dataHome) return;
        std::error_code ignored;
        fs::create_directories(*config_.dataHome, ignored);
        const fs::path quib = *config_.dataHome / folderName;
        ::mkdir(quib.c_str(), 0700);
        directory_ = quib / inboxName;
        ::mkdir(directory_->c_str(), 0700);
    });
    return directory_;
}

std::string AttachmentInbox::countedFromOne(std::int64_t index) {
    if (index < 0) return std::to_string(index + 1);
    return std::to_string(static_cast<std::uint64_t>(index) + 1);
}

AttachmentInbox::Written AttachmentInbox::write(std::span<const std::uint8_t> data, const AttachmentFrame& frame) {
    auto temporary = writeTemporary(data, frame);
    if (const auto* path = std::get_if<fs::path>(&temporary)) return place(*path);
    return temporary;
}

AttachmentInbox::Written AttachmentInbox::writeTemporary(std::span<const std::uint8_t> data,
                                                         const AttachmentFrame& frame) {
    const auto& folder = directory();
    if (!folder) return refusal(Refusal::Kind::noDirectory);
    if (auto refused = checkLength(static_cast<std::int64_t>(data.size()), frame)) return *refused;
    if (auto refused = checkImage(data, frame)) return *refused;
    auto opened = create(*folder, frame);
    if (auto* refused = std::get_if<Refusal>(&opened)) return std::move(*refused);
    auto& incoming = std::get<Incoming>(opened);
    incoming.write(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    if (auto path = incoming.close()) return std::move(*path);
    return Refusal{.kind = Refusal::Kind::writeFailed, .fileName = incoming.name_, .reason = reasonOf(incoming.error_)};
}

AttachmentInbox::Opened AttachmentInbox::open(const AttachmentFrame& frame, std::int64_t length) {
    const auto& folder = directory();
    if (!folder) return refusal(Refusal::Kind::noDirectory);
    if (auto refused = checkLength(length, frame)) return *refused;
    return create(*folder, frame);
}

// The image is judged where it lies, through a read-only mapping of its temporary.
AttachmentInbox::Written AttachmentInbox::finish(Incoming incoming) {
    Refusal failed{.kind = Refusal::Kind::writeFailed, .fileName = incoming.name_, .reason = reasonOf(incoming.error_)};
    struct stat info {};
    if (incoming.failed_) return failed;
    if (::fstat(incoming.file_->get(), &info) != 0) {
        failed.reason = reasonOf(errno);
        return failed;
    }
    if (info.st_size <= 0) return failed;
    const auto size = static_cast<std::size_t>(info.st_size);
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, incoming.file_->get(), 0);
    if (mapped == MAP_FAILED) {
        failed.reason = reasonOf(errno);
        return failed;
    }
    auto refused = checkImage({static_cast<const std::uint8_t*>(mapped), size}, incoming.frame_);
    ::munmap(mapped, size);
    if (refused) return *refused;
    if (auto path = incoming.close()) return std::move(*path);
    failed.reason = reasonOf(incoming.error_);
    return failed;
}

// The checks in order, the first that fails deciding: first those of the length alone...
std::optional<AttachmentInbox::Refusal> AttachmentInbox::checkLength(std::int64_t length,
                                                                     const AttachmentFrame& frame) {
    if (length == 0) return refusal(Refusal::Kind::empty);
    if (length > UploadChannel::maxAttachmentBytes) return Refusal{.kind = Refusal::Kind::tooLarge, .bytes = length};
    if (length != frame.byteCount)
        return Refusal{.kind = Refusal::Kind::shortRead, .expected = frame.byteCount, .got = length};
    return std::nullopt;
}

// ...then those of the image. The type comes from the signature alone, so a JPEG sent as a PNG
// is named as such even when it is cut short; the pixel size is read only once the type matched.
std::optional<AttachmentInbox::Refusal> AttachmentInbox::checkImage(std::span<const std::uint8_t> data,
                                                                    const AttachmentFrame& frame) {
    const auto type = ImageSniffer::typeIdentifier(data);
    if (!type) return refusal(Refusal::Kind::notAnImage);
    const std::string_view claimed = AttachmentFrame::typeIdentifier(frame.format);
    if (*type != claimed)
        return Refusal{
            .kind = Refusal::Kind::wrongFormat, .claimed = std::string(claimed), .actual = std::string(*type)};
    const auto pixels = ImageSniffer::pixelSize(data, frame.format);
    if (!pixels) return refusal(Refusal::Kind::notAnImage);
    if (pixels->width > UploadChannel::maxPixelsPerSide || pixels->height > UploadChannel::maxPixelsPerSide)
        return Refusal{.kind = Refusal::Kind::tooManyPixels, .width = pixels->width, .height = pixels->height};
    return std::nullopt;
}

// A temporary is hidden, so that pruning leaves it alone, and names the file it becomes:
// ".<final name>.<n>.part", the number telling apart temporaries of one name. Each is claimed by
// creating it exclusively, so two writers can never share or overwrite a file.
AttachmentInbox::Opened AttachmentInbox::create(const fs::path& folder, const AttachmentFrame& frame) {
    std::string name = "quib-" + stamp() + "-" + countedFromOne(frame.index) + "." +
                       std::string(AttachmentFrame::fileExtension(frame.format));
    MutexLock guard(lock_);
    for (std::uint64_t k = 1;; ++k) {
        fs::path path = folder / ("." + name + "." + std::to_string(k) + std::string(temporarySuffix));
        auto fd = std::make_unique<FileDescriptor>(
            ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd->isOpen()) return Incoming(std::move(path), std::move(fd), std::move(name), frame);
        if (errno != EEXIST)
            return Refusal{.kind = Refusal::Kind::writeFailed, .fileName = name, .reason = reasonOf(errno)};
    }
}

AttachmentInbox::Incoming::Incoming(Incoming&& other) noexcept
    : path_(std::exchange(other.path_, {})),
      file_(std::move(other.file_)),
      name_(std::move(other.name_)),
      frame_(other.frame_),
      failed_(other.failed_),
      error_(other.error_) {}

AttachmentInbox::Incoming& AttachmentInbox::Incoming::operator=(Incoming&& other) noexcept {
    if (this != &other) {
        if (!path_.empty()) ::unlink(path_.c_str());
        path_ = std::exchange(other.path_, {});
        file_ = std::move(other.file_);
        name_ = std::move(other.name_);
        frame_ = other.frame_;
        failed_ = other.failed_;
        error_ = other.error_;
    }
    return *this;
}

AttachmentInbox::Incoming::~Incoming() {
    if (!path_.empty()) ::unlink(path_.c_str());
}

// A write that took nothing and said no error is a full disk all the same.
void AttachmentInbox::Incoming::write(std::string_view bytes) {
    if (failed_) return;
    errno = 0;
    if (file_->writeAll(bytes)) return;
    failed_ = true;
    error_ = errno != 0 ? errno : ENOSPC;
}

std::optional<fs::path> AttachmentInbox::Incoming::close() {
    if (failed_) return std::nullopt;
    if (::close(file_->release()) != 0) {
        error_ = errno;
        return std::nullopt;
    }
    return std::exchange(path_, {});
}

// The final name is claimed with a hard link, which fails on any name taken (a file, or a link
// to somewhere else), so nothing is ever overwritten or written through; a taken name gets
// "-2", "-3", ... before the extension.
AttachmentInbox::Written AttachmentInbox::place(const fs::path& temporary) {
    std::string name = temporary.filename().string();
    if (!name.starts_with('.') || !name.ends_with(temporarySuffix))
        return Refusal{.kind = Refusal::Kind::writeFailed, .fileName = name};
    name = name.substr(1, name.size() - 1 - temporarySuffix.size());
    name.erase(name.rfind('.'));  // the temporary's number
    const auto dot = name.rfind('.');
    const std::string base = name.substr(0, dot);
    const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    MutexLock guard(lock_);
    for (std::uint64_t k = 1;; ++k) {
        const std::string candidate = base + (k == 1 ? "" : "-" + std::to_string(k)) + extension;
        const fs::path path = temporary.parent_path() / candidate;
        if (::link(temporary.c_str(), path.c_str()) != 0) {
            if (errno == EEXIST) continue;
            return Refusal{.kind = Refusal::Kind::writeFailed, .fileName = candidate, .reason = reasonOf(errno)};
        }
        ::unlink(temporary.c_str());
        return path;
    }
}

void AttachmentInbox::removeTemporaries(const fs::path& folder) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(".quib-") || !name.ends_with(temporarySuffix)) continue;
        struct stat info {};
        if (::lstat(it->path().c_str(), &info) == 0 && S_ISREG(info.st_mode)) ::unlink(it->path().c_str());
    }
}

std::string AttachmentInbox::stamp() const {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(config_.clock->wallNow());
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return std::string(text, length);
}

void AttachmentInbox::prune() {
    const auto& folder = directory();
    if (!folder) return;
    MutexLock guard(lock_);
    std::vector<Entry> entries = listFiles(*folder);
    const WallTime cutoff = config_.clock->wallNow() - maxAge;
    std::erase_if(entries, [&](const Entry& entry) {
        if (entry.modified >= cutoff) return false;
        ::unlink(entry.path.c_str());
        return true;
    });
    std::int64_t total = 0;
    for (const auto& entry : entries) total += entry.size;
    if (total <= maxTotalBytes) return;
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.modified < b.modified; });
    for (const auto& entry : entries) {
        if (total <= maxTotalBytes) break;
        ::unlink(entry.path.c_str());
        total -= entry.size;
    }
}

Result<fs::path> AttachmentInbox::reveal() {
    const auto& folder = directory();
    if (!folder) return fail("The image inbox has no folder to live in.");
    // The trailing separator: where the file manager cannot select the inbox, it opens it.
    if (config_.revealer) {
        if (auto shown = config_.revealer->reveal(*folder / ""); !shown) return shown.error();
    }
    return *folder;
}

}  // namespace quib
