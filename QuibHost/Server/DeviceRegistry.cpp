#include "QuibHost/Server/DeviceRegistry.hpp"

#include <algorithm>
#include <utility>

#include "Runtime/AssertOn.hpp"
#include "Runtime/Logger.hpp"
#include "Shared/QuibCoder.hpp"

namespace quib {

namespace {

auto hasID(const std::string& deviceID) {
    return [&deviceID](const DeviceRegistry::Device& device) { return device.id == deviceID; };
}

// Gives the first record of each waiting device in `list` its refreshed name and last-seen
// time, unless an earlier list took it (`done`); says whether any record changed.
bool restamp(DeviceRegistry::DeviceList& list, const std::map<std::string, DeviceRegistry::Device>& waiting,
             std::set<std::string>& done) {
    bool changed = false;
    for (const auto& [id, seen] : waiting) {
        auto it = std::ranges::find_if(list, hasID(id));
        if (done.contains(id) || it == list.end()) continue;
        it->name = seen.name;
        it->lastSeen = seen.lastSeen;
        done.insert(id);
        changed = true;
    }
    return changed;
}

std::set<std::string> identifiers(const DeviceRegistry::DeviceList& devices) {
    std::set<std::string> ids;
    for (const auto& device : devices) ids.insert(device.id);
    return ids;
}

}  // namespace

DeviceRegistry::Device DeviceRegistry::Device::fromJson(const Json& json) {
    const JsonReader r(json);
    return Device{r.required<std::string>("id"), r.required<std::string>("name"), r.required<WallTime>("lastSeen")};
}

Json DeviceRegistry::Device::toJson() const {
    return JsonWriter().put("id", id).put("name", name).put("lastSeen", lastSeen).take();
}

std::shared_ptr<DeviceRegistry> DeviceRegistry::create(std::shared_ptr<Executor> main,
                                                       std::shared_ptr<Settings> settings,
                                                       std::shared_ptr<Clock> clock) {
    DeviceList approved = load(*settings, approvedKey);
    DeviceList revoked = load(*settings, revokedKey);
    // A device stored in both lists (as lists saved by two separate writes could be, once cut
    // off between them) counts as revoked: trust is never granted by a damaged record.
    const std::set<std::string> revokedIDs = identifiers(revoked);
    const auto both = std::erase_if(approved, [&](const Device& device) { return revokedIDs.contains(device.id); });
    if (both > 0)
        quibLog().error("Stored device lists held ", static_cast<std::uint64_t>(both),
                        " device(s) in both; they count as revoked");
    return std::make_shared<DeviceRegistry>(Passkey{}, std::move(main), std::move(settings), std::move(clock),
                                            std::move(approved), std::move(revoked));
}

DeviceRegistry::DeviceRegistry(Passkey, std::shared_ptr<Executor> main, std::shared_ptr<Settings> settings,
                               std::shared_ptr<Clock> clock, DeviceList approved, DeviceList revoked)
    : main_(std::move(main)),
      settings_(std::move(settings)),
      clock_(std::move(clock)),
      approved_(main_, approved),
      revoked_(main_, revoked),
      approvedIDs_(identifiers(approved)),
      revokedIDs_(identifiers(revoked)) {}

DeviceRegistry::~DeviceRegistry() {
    if (seenUnsaved_) (void)store();
}

bool DeviceRegistry::seen(const std::string& deviceID, const std::string& name) {
    const bool approvedNow = isApproved(deviceID);
    main_->post([weak = weak_from_this(), deviceID, name] {
        if (auto self = weak.lock()) self->touch(deviceID, name);
    });
    return approvedNow;
}

Result<void> DeviceRegistry::approve(const std::string& deviceID, const std::string& name) {
    if (!main_->isCurrent()) {
        main_->post([self = shared_from_this(), deviceID, name] { (void)self->approve(deviceID, name); });
        return {};
    }
    applySeen();
    {
        MutexLock guard(lock_);
        revokedIDs_.erase(deviceID);
        approvedIDs_.insert(deviceID);
    }
    DeviceList revoked = revoked_.value();
    if (std::erase_if(revoked, hasID(deviceID)) > 0) revoked_.set(std::move(revoked));

    DeviceList approved = approved_.value();
    Device device{deviceID, name, clock_->wallNow()};
    if (auto it = std::ranges::find_if(approved, hasID(deviceID)); it != approved.end()) *it = std::move(device);
    else approved.push_back(std::move(device));
    approved_.set(std::move(approved));
    return persist();
}

Result<void> DeviceRegistry::revoke(const std::string& deviceID) {
    if (!main_->isCurrent()) {
        main_->post([self = shared_from_this(), deviceID] { (void)self->revoke(deviceID); });
        return {};
    }
    applySeen();
    {
        MutexLock guard(lock_);
        approvedIDs_.erase(deviceID);
        revokedIDs_.insert(deviceID);
    }
    DeviceList approved = approved_.value();
    DeviceList revoked = revoked_.value();
    std::string name(defaultName);
    if (auto it = std::ranges::find_if(approved, hasID(deviceID)); it != approved.end()) name = it->name;
    else if (auto it2 = std::ranges::find_if(revoked, hasID(deviceID)); it2 != revoked.end()) name = it2->name;

    if (std::erase_if(approved, hasID(deviceID)) > 0) approved_.set(std::move(approved));
    std::erase_if(revoked, hasID(deviceID));
    revoked.push_back(Device{deviceID, std::move(name), clock_->wallNow()});
    revoked_.set(std::move(revoked));
    return persist();
}

std::set<std::string> DeviceRegistry::approvedIDs() const {
    MutexLock guard(lock_);
    return approvedIDs_;
}

std::set<std::string> DeviceRegistry::revokedIDs() const {
    MutexLock guard(lock_);
    return revokedIDs_;
}

bool DeviceRegistry::isApproved(const std::string& deviceID) const {
    MutexLock guard(lock_);
    return approvedIDs_.contains(deviceID);
}

bool DeviceRegistry::isRevoked(const std::string& deviceID) const {
    MutexLock guard(lock_);
    return revokedIDs_.contains(deviceID);
}

// Notes the name and last-seen time of a device already in one of the lists; a device in
// neither list is never added by being seen. The lists take the refreshes when they are saved,
// all at once: a phone that says hello often republishes them, and so has every phone told its
// status again, once a save at most, not once a hello.
void DeviceRegistry::touch(const std::string& deviceID, const std::string& name) {
    assertOn(*main_);
    const auto known = [&](const Published<DeviceList>& published) {
        return std::ranges::any_of(published.value(), hasID(deviceID));
    };
    if (!known(approved_) && !known(revoked_)) return;
    seenWaiting_.insert_or_assign(deviceID, Device{deviceID, name, clock_->wallNow()});
    saveSoon();
}

// Each list is republished once, with every refresh that waits for one of its devices.
void DeviceRegistry::applySeen() {
    if (seenWaiting_.empty()) return;
    const auto waiting = std::exchange(seenWaiting_, {});
    std::set<std::string> done;
    for (Published<DeviceList>* published : {&approved_, &revoked_}) {
        DeviceList list = published->value();
        if (restamp(list, waiting, done)) published->set(std::move(list));
    }
}

// Refreshes are bookkeeping: they are saved together, once saveDelay has passed since the
// first, or with the next approval or revocation, which saves the whole lists.
void DeviceRegistry::saveSoon() {
    seenUnsaved_ = true;
    if (saveScheduled_) return;
    saveScheduled_ = true;
    (void)main_->postAfter(saveDelay, [weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) return;
        self->saveScheduled_ = false;
        if (self->seenUnsaved_) (void)self->persist();  // a failure is retried
    });
}

Result<void> DeviceRegistry::saveNow() {
    assertOn(*main_);
    if (!seenUnsaved_ && !unsaved_) return {};
    return persist();
}

// Stores both lists in one write, so an end of the process between them can never leave a
// device in both lists or in neither; a list that cannot be encoded leaves its key as it was.
// Lists that cannot be written stay unsaved and are written again later; the first failure of a
// run of them is logged.
Result<void> DeviceRegistry::persist() {
    auto saved = store();
    if (saved) {
        if (unsaved_) quibLog().info("The approved and revoked devices are saved again");
        unsaved_ = false;
        return saved;
    }
    if (!unsaved_) {
        quibLog().error("The approved and revoked devices could not be saved (", pub(saved.error().message),
                        "); trying again every ", static_cast<std::int64_t>(retryInterval.count()), "s");
    }
    unsaved_ = true;
    retryLater();
    return saved;
}

// The lists are taken as they are now, so whatever waited to be saved is saved with them.
// Waiting refreshes are saved as they are published: set() off the main executor (at stop)
// reaches the published lists only later, so the saved lists take them here.
Result<void> DeviceRegistry::store() {
    std::pair<std::string_view, DeviceList> lists[] = {{approvedKey, approved_.value()},
                                                       {revokedKey, revoked_.value()}};
    std::set<std::string> done;
    for (auto& [key, list] : lists) restamp(list, seenWaiting_, done);
    applySeen();
    seenUnsaved_ = false;
    std::vector<std::pair<std::string, SettingValue>> values;
    for (const auto& [key, list] : lists) {
        auto line = QuibCoder::line(list);
        if (line) values.emplace_back(std::string(key), SettingValue(Bytes(line->begin(), line->end())));
    }
    return settings_->setMany(std::move(values));
}

void DeviceRegistry::retryLater() {
    if (retryScheduled_) return;
    retryScheduled_ = true;
    (void)main_->postAfter(retryInterval, [weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) return;
        self->retryScheduled_ = false;
        if (self->unsaved_) (void)self->persist();
    });
}

DeviceRegistry::DeviceList DeviceRegistry::load(Settings& settings, const SettingKey<SettingRow::Record>& key) {
    if (!settings.contains(key)) return {};
    auto bytes = settings.get(key);
    if (!bytes) {
        setAside(settings, key, "it is not a data value");
        return {};
    }
    const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    auto devices = QuibCoder::decodeStored<DeviceList>(text);
    if (devices) return std::move(*devices);
    setAside(settings, key, "it does not decode as a device list");
    return {};
}

// Moves an unreadable stored list to a side key before the next save could overwrite it, so a
// damaged list costs the user nothing that cannot be recovered by hand.
void DeviceRegistry::setAside(Settings& settings, const SettingKey<SettingRow::Record>& key,
                              const std::string& reason) {
    const auto side = settings.setAside(key);
    if (!side) return;
    quibLog().error(pub(key.row().ignoredLine({}, reason, *side)));
}

}  // namespace quib

std::size_t std::hash<quib::DeviceRegistry::Device>::operator()(
    const quib::DeviceRegistry::Device& device) const noexcept {
    std::size_t seed = std::hash<std::string>{}(device.id);
    auto mix = [&seed](std::size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); };
    mix(std::hash<std::string>{}(device.name));
    mix(std::hash<quib::WallTime::rep>{}(device.lastSeen.time_since_epoch().count()));
    return seed;
}
