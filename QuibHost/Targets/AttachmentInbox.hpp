#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "Platform/FileRevealer.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/FileDescriptor.hpp"
#include "Runtime/Mutex.hpp"
#include "Shared/AttachmentFrame.hpp"

namespace quib {

// The folder that keeps the images phones upload: it checks and stores each one under a fresh
// name, keeps it where the router can paste it from, and later removes old ones.
//
// Files are "quib-<local time yyyyMMdd-HHmmss>-<index + 1>.<png|jpg>", owner-only; a name taken
// already gets "-2", "-3", ... before the extension. Nothing is ever overwritten.
class AttachmentInbox {
public:
    static constexpr std::string_view folderName = "Quib";
    static constexpr std::string_view inboxName = "inbox";
    // Pruning removes files older than this, then the oldest while the folder holds more than
    // `maxTotalBytes`.
    static constexpr std::chrono::seconds maxAge{604800};     // 7 days
    static constexpr std::int64_t maxTotalBytes = 536870912;  // 512 MiB

    struct Config {
        // The folder that holds the host's data folder ($XDG_DATA_HOME); none: nothing can be
        // stored.
        std::optional<std::filesystem::path> dataHome;
        std::shared_ptr<Clock> clock;
        // Shows the folder to the user; none: revealing only makes it.
        std::shared_ptr<FileRevealer> revealer = nullptr;
    };

    // Why an image was not stored. Only the fields of its kind are set.
    struct Refusal {
        enum class Kind {
            tooLarge,
            shortRead,
            wrongFormat,
            tooManyPixels,
            writeFailed,
            noDirectory,
            empty,
            notAnImage
        };
        Kind kind = Kind::empty;
        std::int64_t bytes = 0;     // tooLarge
        std::int64_t expected = 0;  // shortRead
        std::int64_t got = 0;       // shortRead
        std::string claimed{};      // wrongFormat: uniform type identifiers
        std::string actual{};
        std::int64_t width = 0;  // tooManyPixels
        std::int64_t height = 0;
        std::string fileName{};  // writeFailed
        std::string reason{};    // writeFailed: what the system said, as "No space left on device"

        // The sentence the phone is shown.
        std::string message() const;
        bool operator==(const Refusal&) const = default;
    };

    // The stored file, or why the image was refused.
    using Written = std::variant<std::filesystem::path, Refusal>;

    // An image stored as its bytes arrive, in a hidden temporary that `finish` checks once
    // every byte is in. Dropped unfinished, it removes the temporary.
    class Incoming {
    public:
        Incoming(Incoming&& other) noexcept;
        Incoming& operator=(Incoming&& other) noexcept;
        ~Incoming();

        // Appends the next bytes; a failed write is told by `finish`, and later bytes are
        // dropped.
        void write(std::string_view bytes);

    private:
        friend class AttachmentInbox;
        Incoming(std::filesystem::path path, std::unique_ptr<FileDescriptor> file, std::string name,
                 AttachmentFrame frame)
            : path_(std::move(path)), file_(std::move(file)), name_(std::move(name)), frame_(frame) {}
        // The temporary, no longer removed by this; none when a write failed.
        std::optional<std::filesystem::path> close();

        std::filesystem::path path_;
        std::unique_ptr<FileDescriptor> file_;
        std::string name_;  // the final name, which a refusal to save it shows
        AttachmentFrame frame_;
        bool failed_ = false;
        int error_ = 0;  // why the write or the close failed
    };
    using Opened = std::variant<Incoming, Refusal>;

    explicit AttachmentInbox(Config config);
    AttachmentInbox(const AttachmentInbox&) = delete;
    AttachmentInbox& operator=(const AttachmentInbox&) = delete;

    // Any thread. "<dataHome>/Quib/inbox"; the first call makes it (mode 0700; a failure is
    // ignored and shows later as a file that cannot be written).
    const std::optional<std::filesystem::path>& directory() const;

    // Any thread: checks one image against its frame and stores it. Only naming and creating the
    // file are serialised with other writes and with pruning.
    Written write(std::span<const std::uint8_t> data, const AttachmentFrame& frame);
    // The same in two steps, for images that are only kept once all of them arrived: the image is
    // written whole to a hidden temporary, which `place` later gives its final name. An end of
    // the process between the two leaves only a temporary, removed when the next inbox is made.
    Written writeTemporary(std::span<const std::uint8_t> data, const AttachmentFrame& frame);
    Written place(const std::filesystem::path& temporary);
    // The same for an image that arrives in pieces: `open` takes its frame and the length of the
    // bytes to come, and refuses at once what needs no look at them (no folder, nothing, too
    // much, not the length the frame states); `finish` judges the image itself, once whole, and
    // gives its temporary. Storing starts before the bytes are judged, so a file that cannot be
    // written is refused before an image that is not what it claims.
    Opened open(const AttachmentFrame& frame, std::int64_t length);
    Written finish(Incoming incoming);

    // Any thread: removes regular, visible files modified before now minus `maxAge`, then the
    // oldest while the rest hold more than `maxTotalBytes` (file sizes, not blocks). Folders,
    // symbolic links and hidden files are never removed or counted. Errors are ignored.
    void prune();

    // Main executor: makes the folder and shows it; its path. Fails when it has no place, or
    // when the desktop could not show it.
    Result<std::filesystem::path> reveal();

    // `index + 1` in decimal, for every index: INT64_MAX gives 9223372036854775808.
    static std::string countedFromOne(std::int64_t index);

private:
    static std::optional<Refusal> checkLength(std::int64_t length, const AttachmentFrame& frame);
    static std::optional<Refusal> checkImage(std::span<const std::uint8_t> data, const AttachmentFrame& frame);
    Opened create(const std::filesystem::path& folder, const AttachmentFrame& frame);
    std::string stamp() const;
    static void removeTemporaries(const std::filesystem::path& folder);

    static constexpr std::string_view temporarySuffix = ".part";

    Config config_;
    mutable std::once_flag located_;
    mutable std::optional<std::filesystem::path> directory_;
    // Held over the naming and creation of a file and over the whole of a prune. What it guards
    // is the inbox folder on disk, not a member: there is nothing to mark GUARDED_BY it.
    Mutex lock_;
};

}  // namespace quib
