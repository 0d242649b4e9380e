#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/FileRevealer.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Mutex.hpp"
#include "Shared/DeliveryReceipt.hpp"

namespace quib {

// A plain text file with one line per text or image delivery, delivered or refused, so the
// user can see afterwards what reached which target and whether it was submitted. It never
// holds the delivered text. Lines are only ever appended: no rotation, no size limit, no header.
//
//   <time, UTC>\t<delivered|refused>\t<target name>\t<n> chars\tsubmitted=<yes|no>\n
//
// Writing never fails a delivery: every file error is swallowed and the line is lost.
class DeliveryLog {
public:
    static constexpr std::string_view folderName = "Quib";
    static constexpr std::string_view fileName = "deliveries.log";

    struct Config {
        // The folder that holds the host's data folder ($XDG_DATA_HOME); none: nothing is ever
        // logged.
        std::optional<std::filesystem::path> dataHome;
        std::shared_ptr<Clock> clock;
        // Shows the log to the user; none: revealing only makes sure the file exists.
        std::shared_ptr<FileRevealer> revealer = nullptr;
    };

    explicit DeliveryLog(Config config);
    DeliveryLog(const DeliveryLog&) = delete;
    DeliveryLog& operator=(const DeliveryLog&) = delete;

    // Any thread. "<dataHome>/Quib/deliveries.log"; the first call makes the Quib folder (an
    // error, such as the folder existing, is ignored).
    const std::optional<std::filesystem::path>& fileURL() const;

    // Any thread: appends the receipt's line, stamped now.
    void record(const DeliveryReceipt& receipt);
    // Main executor: makes the empty log when there is none and shows it. The log's path; fails
    // when it has no place, or when the desktop could not show it.
    Result<std::filesystem::path> reveal();

    // The receipt's line, its line feed included. The target's name is written unchanged.
    static std::string line(const DeliveryReceipt& receipt, WallTime at);

private:
    // Makes the file with these bytes as its whole contents, owner-only, unless it exists.
    static void create(const std::filesystem::path& at, std::string_view with);

    Config config_;
    mutable std::once_flag located_;
    mutable std::optional<std::filesystem::path> fileURL_;
    // Serialises every append and creation. What it guards is the file on disk, not a member:
    // there is nothing to mark GUARDED_BY it.
    Mutex lock_;
};

}  // namespace quib
