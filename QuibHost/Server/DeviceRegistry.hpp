#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Runtime/Clock.hpp"
#include "Runtime/Executor.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/Published.hpp"
#include "Runtime/Result.hpp"
#include "Runtime/Settings.hpp"
#include "Runtime/SettingsTable.hpp"
#include "Shared/Json.hpp"

namespace quib {

// Remembers which phones the user approved and which were revoked.
//
// Two ordered lists of devices are published for the menu-bar panel and kept in the settings;
// two identifier sets behind a lock let the connection server ask from any thread whether a
// device is approved or revoked. The lists change on the main executor only; the sets are
// changed before the lists, so a reader elsewhere never learns of a trust change later than
// the menu does. An identifier is in at most one of the two lists.
class DeviceRegistry : public std::enable_shared_from_this<DeviceRegistry> {
public:
    // One known phone.
    struct Device {
        std::string id;     // the identifier the phone sends in its hello
        std::string name;   // its display name as last seen
        WallTime lastSeen;  // when it was last seen, approved or revoked

        // All three keys are required; unknown keys are ignored.
        static Device fromJson(const Json& json);
        Json toJson() const;
        bool operator==(const Device&) const = default;
    };
    using DeviceList = std::vector<Device>;

    // Settings keys of the two stored lists. Each holds bytes: the list's one-line JSON and a
    // line feed.
    static constexpr auto approvedKey = setting<"quib.devices.approved.v1">;
    static constexpr auto revokedKey = setting<"quib.devices.revoked.v1">;
    // The name a device gets when it is revoked before it was ever known.
    static constexpr std::string_view defaultName = "iPhone";

    // Loads both lists from `settings`. An unreadable stored list is kept aside under
    // "<key>.unreadable" (never overwritten) and the registry starts with that list empty.
    static std::shared_ptr<DeviceRegistry> create(std::shared_ptr<Executor> main, std::shared_ptr<Settings> settings,
                                                  std::shared_ptr<Clock> clock);

    // Saves what still waits to be saved.
    ~DeviceRegistry();
    DeviceRegistry(const DeviceRegistry&) = delete;
    DeviceRegistry& operator=(const DeviceRegistry&) = delete;

    // Approved phones in order of first approval, and revoked phones in order of revocation.
    // Subscribe or read from anywhere; only the registry changes them.
    Published<DeviceList>& approved() { return approved_; }
    Published<DeviceList>& revoked() { return revoked_; }

    // Any thread: whether the device is approved right now. Its name and last-seen time are
    // refreshed later on the main executor (only for a device already in one of the lists), and
    // saved within saveDelay with whatever else was seen meanwhile: a phone that connects often
    // costs one write a second at most, not one a hello.
    bool seen(const std::string& deviceID, const std::string& name);

    // How long a refreshed name or last-seen time may wait before it is saved.
    static constexpr std::chrono::seconds saveDelay{1};

    // How long lists that could not be saved wait before they are written again.
    static constexpr std::chrono::seconds retryInterval{30};

    // Main executor: approves a new or revoked device, or re-stamps an approved one. The change
    // holds at once; the result says whether the lists are saved. When they could not be, they
    // stay unsaved and are written again every retryInterval until they are. Called from another
    // thread, it is carried out on the main executor and reports nothing.
    Result<void> approve(const std::string& deviceID, const std::string& name);
    // Main executor: revokes a device in any state; a revoked device moves to the end of the
    // list. Saved, and reported, as approve.
    Result<void> revoke(const std::string& deviceID);
    // Main executor: the lists in memory hold changes that are not saved yet.
    bool hasUnsavedChanges() const { return unsaved_ || seenUnsaved_; }
    // Main executor: saves at once what waits to be saved (at stop); nothing to save succeeds.
    Result<void> saveNow();

    // Any thread: copies of the identifier sets, or one membership test, taken under the lock.
    std::set<std::string> approvedIDs() const;
    std::set<std::string> revokedIDs() const;
    bool isApproved(const std::string& deviceID) const;
    bool isRevoked(const std::string& deviceID) const;

private:
    struct Passkey {};

public:
    DeviceRegistry(Passkey, std::shared_ptr<Executor> main, std::shared_ptr<Settings> settings,
                   std::shared_ptr<Clock> clock, DeviceList approved, DeviceList revoked);

private:
    void touch(const std::string& deviceID, const std::string& name);
    Result<void> persist();
    Result<void> store();
    void retryLater();
    void saveSoon();
    static DeviceList load(Settings& settings, const SettingKey<SettingRow::Record>& key);
    static void setAside(Settings& settings, const SettingKey<SettingRow::Record>& key, const std::string& reason);

    std::shared_ptr<Executor> main_;
    std::shared_ptr<Settings> settings_;
    std::shared_ptr<Clock> clock_;
    Published<DeviceList> approved_;
    Published<DeviceList> revoked_;
    mutable Mutex lock_;
    std::set<std::string> approvedIDs_ GUARDED_BY(lock_);
    std::set<std::string> revokedIDs_ GUARDED_BY(lock_);
    bool unsaved_ = false;         // main executor
    bool retryScheduled_ = false;  // main executor
    bool seenUnsaved_ = false;     // main executor: a refresh by seen() waits for saveSoon
    bool saveScheduled_ = false;   // main executor
};

}  // namespace quib

template <>
struct std::hash<quib::DeviceRegistry::Device> {
    std::size_t operator()(const quib::DeviceRegistry::Device& device) const noexcept;
};
