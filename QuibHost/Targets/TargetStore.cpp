#include "QuibHost/Targets/TargetStore.hpp"
#include "Runtime/Required.hpp"

#include <algorithm>
#include <map>

#include "Platform/Freedesktop/AppIdentity.hpp"
#include "QuibHost/Targets/TargetStoreChecks.hpp"
#include "Runtime/AssertOn.hpp"
#include "Runtime/AtomicFile.hpp"
#include "Runtime/HostWords.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/UnicodeText.hpp"
#include "Shared/QuibCoder.hpp"

namespace quib {
namespace {

std::optional<QuibTarget> firstWithID(const std::vector<QuibTarget>& list, const std::string& id) {
    const auto found = std::ranges::find(list, id, &QuibTarget::id);
    return found == list.end() ? std::nullopt : std::optional<QuibTarget>(*found);
}

}  // namespace

std::shared_ptr<TargetStore> TargetStore::create(Config config) {
    Loaded loaded = load(config);
    const bool firstRun = loaded.targets.empty();
    // A stored id is taken even when no target has it; lookups of it simply find nothing.
    std::optional<std::string> active = config.settings->get(activeKey);
    if (!active && !loaded.targets.empty()) active = loaded.targets.front().id;
    auto store =
        std::make_shared<TargetStore>(Passkey{}, std::move(config), std::move(loaded.targets), std::move(active));
    // After a failed decode this replaces the undecodable bytes with an empty list.
    store->persist();
    store->seeding_ = store->decideSeeding(firstRun);
    store->beginStartupSeeding();
    return store;
}

TargetStore::TargetStore(Passkey, Config config, std::vector<QuibTarget> targets, std::optional<std::string> active)
    : config_(std::move(config)),
      targets_(config_.main, std::move(targets)),
      activeTargetID_(config_.main, std::move(active)),
      unresolvedTargetIDs_(config_.main, {}),
      provisionalTargets_(config_.main, {}),
      tmuxQueue_(std::make_unique<SerialQueue>("com.brenmoor.quib.host.tmux", config_.clock)) {
    config_.apps = required(config_.apps, "TargetStore", "desktop entries");
    config_.workspace = required(config_.workspace, "TargetStore", "workspace");
    if (auto line = QuibCoder::line(targets_.value())) listBytes_ = line->size();
}

// A value of another type than bytes reads as nothing stored.
TargetStore::Loaded TargetStore::load(const Config& config) {
    const auto data = config.settings->get(defaultsKey);
    if (!data) return {};
    auto decoded = QuibCoder::decodeStored<std::vector<QuibTarget>>(textOf(*data));
    if (decoded) return {std::move(*decoded), true};
    setUndecodableAside(config, *data, decoded.error().message);
    return {{}, false};
}

// The list is about to be overwritten with an empty one, so its bytes go somewhere first: a
// backup file, or when that cannot be written, a side setting.
void TargetStore::setUndecodableAside(const Config& config, const Bytes& data, const std::string& reason) {
    std::string where = "nowhere";
    if (auto copy = backUp(config, data)) where = copy->string();
    else if (auto side = config.settings->setAside(defaultsKey)) where = "the setting " + *side;
    quibLog().error(pub(defaultsKey.row().ignoredLine({}, reason, where)));
}

// "targets-<UTC time with '-' for ':'>.json" in the delivery log's folder.
std::optional<std::filesystem::path> TargetStore::backUp(const Config& config, const Bytes& data) {
    if (!config.log || !config.log->fileURL()) return std::nullopt;
    std::string stamp = internetDateTime(config.clock->wallNow());
    std::ranges::replace(stamp, ':', '-');
    const auto path = config.log->fileURL()->parent_path() / ("targets-" + stamp + ".json");
    if (!writeFileAtomically(path, textOf(data))) return std::nullopt;
    return path;
}

// Panes are seeded on a first run, or when no saved target is a tmux one and seeding has never
// been evaluated with tmux available.
TargetStore::Seeding TargetStore::decideSeeding(bool firstRun) const {
    const bool evaluated = config_.settings->get(seededPanesKey);
    const auto list = targets_.value();
    const bool hasTmux =
        std::ranges::any_of(list, [](const QuibTarget& t) { return t.kind == QuibTarget::Kind::tmux; });
    return Seeding{firstRun, firstRun || (!hasTmux && !evaluated)};
}

TargetStoreService::Snapshot TargetStore::snapshot() const {
    MutexLock guard(snapshotLock_);
    return Snapshot{targetsSnapshot_, provisionalSnapshot_};
}

std::optional<std::string> TargetStore::activeSnapshot() const {
    MutexLock guard(snapshotLock_);
    return activeSnapshot_;
}

std::set<std::string> TargetStore::unresolvedSnapshot() const {
    MutexLock guard(snapshotLock_);
    return unresolvedSnapshot_;
}

// A provisional target is handed out as a saved one at once; saving it waits for the main executor.
std::optional<QuibTarget> TargetStore::safeTarget(const std::string& id) {
    std::optional<QuibTarget> saved;
    std::optional<QuibTarget> provisional;
    {
        MutexLock guard(snapshotLock_);
        saved = firstWithID(targetsSnapshot_, id);
        if (!saved) provisional = firstWithID(provisionalSnapshot_, id);
    }
    if (saved || !provisional) return saved;
    provisional->isProvisional = false;
    config_.main->post([weak = weak_from_this(), id] {
        if (auto store = weak.lock()) (void)store->promote(id);
    });
    return provisional;
}

std::optional<QuibTarget> TargetStore::safeActiveTarget() {
    MutexLock guard(snapshotLock_);
    if (!activeSnapshot_) return std::nullopt;
    return firstWithID(targetsSnapshot_, *activeSnapshot_);
}

void TargetStore::setActive(std::optional<std::string> id) {
    assertOn(*config_.main);
    activeTargetID_.set(id);
    {
        MutexLock guard(snapshotLock_);
        activeSnapshot_ = id;
    }
    // A failed write is logged by the settings; the next write that succeeds saves the id too.
    if (id) (void)config_.settings->setString(activeKey, *id);
    else (void)config_.settings->remove(activeKey);
}

std::optional<QuibTarget> TargetStore::target(const std::optional<std::string>& id) const {
    if (!id) return std::nullopt;
    return firstWithID(targets_.value(), *id);
}

std::optional<std::string> TargetStore::upsert(QuibTarget target) {
    assertOn(*config_.main);
    auto list = targets_.value();
    const auto found = std::ranges::find(list, target.id, &QuibTarget::id);
    Checks checks = checksExcluding(target.id);
    if (auto refusal = checks.limitRefusal(target, found == list.end())) return refusal;
    auto unresolved = unresolvedTargetIDs_.value();
    unresolved.erase(target.id);
    if (found != list.end()) *found = std::move(target);
    else list.push_back(std::move(target));
    targets_.set(std::move(list));
    unresolvedTargetIDs_.set(std::move(unresolved));
    persist();
    return std::nullopt;
}

void TargetStore::remove(const std::set<std::string>& ids) {
    assertOn(*config_.main);
    auto list = targets_.value();
    std::erase_if(list, [&](const QuibTarget& t) { return ids.contains(t.id); });
    targets_.set(list);
    auto unresolved = unresolvedTargetIDs_.value();
    for (const auto& id : ids) unresolved.erase(id);
    unresolvedTargetIDs_.set(std::move(unresolved));
    if (const auto active = activeTargetID_.value(); active && ids.contains(*active))
        setActive(list.empty() ? std::nullopt : std::optional<std::string>(list.front().id));
    persist();
}

// When two saved targets share an id the later one stands for both, so the result comes out
// short and nothing changes; so does an order that names an id twice.
void TargetStore::setOrder(const std::vector<std::string>& ids) {
    assertOn(*config_.main);
    const auto list = targets_.value();
    std::map<std::string, const QuibTarget*> byID;
    for (const auto& t : list) byID.insert_or_assign(t.id, &t);
    std::vector<QuibTarget> ordered;
    std::set<std::string> collected;
    for (const auto& id : ids) {
        if (const auto found = byID.find(id); found != byID.end()) {
            ordered.push_back(*found->second);
            collected.insert(id);
        }
    }
    for (const auto& t : list)
        if (!collected.contains(t.id)) ordered.push_back(t);
    if (ordered.size() != list.size()) return;
    setTargets(std::move(ordered));
}

void TargetStore::setPinnedWindow(std::optional<std::uint32_t> windowID, std::optional<std::string> title,
                                  const std::string& id) {
    assertOn(*config_.main);
    auto list = targets_.value();
    const auto found = std::ranges::find(list, id, &QuibTarget::id);
    if (found == list.end()) return;
    found->pinnedWindowID = windowID;
    // A window's title can be long; what the list keeps of it stays within its limit.
    if (title) *title = unicode::prefixBytes(*title, longestField);
    found->pinnedWindowTitle = windowID ? std::move(title) : std::nullopt;
    setTargets(std::move(list));
}

TargetStore::AddOutcome TargetStore::add(QuibTarget target) {
    assertOn(*config_.main);
    std::vector<QuibTarget> one;
    one.push_back(std::move(target));
    return addAll(std::move(one)).front();
}

// One pass over the list for the whole batch: each target is checked against the saved ones and
// those of the batch added before it; the list is published and stored once.
std::vector<TargetStore::AddOutcome> TargetStore::addAll(std::vector<QuibTarget> targets) {
    assertOn(*config_.main);
    std::vector<AddOutcome> outcomes;
    outcomes.reserve(targets.size());
    Checks checks = checksExcluding(std::nullopt);
    auto list = targets_.value();
    auto unresolved = unresolvedTargetIDs_.value();
    bool added = false;
    for (auto& target : targets) {
        target = AppIdentity::withGuessedProfile(std::move(target));
        target.name = std::string(unicode::trimWhiteSpace(target.name));
        if (auto refusal = checks.refusal(target, true)) {
            outcomes.push_back(AddOutcome::refused(std::move(*refusal)));
            continue;
        }
        checks.take(target);
        unresolved.erase(target.id);
        list.push_back(target);
        outcomes.push_back(AddOutcome::added(std::move(target)));
        added = true;
    }
    if (!added) return outcomes;
    targets_.set(std::move(list));
    if (unresolved != unresolvedTargetIDs_.value()) unresolvedTargetIDs_.set(std::move(unresolved));
    persist();
    return outcomes;
}

TargetStore::AddOutcome TargetStore::update(QuibTarget target) {
    assertOn(*config_.main);
    target.name = std::string(unicode::trimWhiteSpace(target.name));
    const auto stored = this->target(target.id);
    if (!stored) return AddOutcome::refused("That target no longer exists");
    if (stored->kind != target.kind)
        return AddOutcome::refused(std::string(said<"Change the kind on ", HostWords::theComputer>));
    if (auto refusal = validate(target, target.id)) return AddOutcome::refused(std::move(*refusal));
    (void)upsert(target);  // validate has checked the limits too
    return AddOutcome::added(std::move(target));
}

// Provisional targets never take part: only saved ones hold names and panes.
std::optional<std::string> TargetStore::validate(const QuibTarget& target,
                                                 const std::optional<std::string>& excluding) const {
    return checksExcluding(excluding).refusal(target, !excluding);
}

TargetStore::Checks TargetStore::checksExcluding(const std::optional<std::string>& id) const {
    const auto& list = targets_.value();
    std::size_t bytes = listBytes_;
    std::vector<const QuibTarget*> others;
    others.reserve(list.size());
    for (const auto& target : list) {
        if (!id || target.id != *id) {
            others.push_back(&target);
            continue;
        }
        // The list without this target is shorter by its JSON and the comma before or after it.
        if (auto line = QuibCoder::encode(target)) bytes -= std::min(bytes, line->size() + 1);
    }
    return Checks(*config_.apps, others, bytes);
}

void TargetStore::persist() {
    std::vector<QuibTarget> list;
    {
        MutexLock guard(snapshotLock_);
        targetsSnapshot_ = list = targets_.value();
        activeSnapshot_ = activeTargetID_.value();
        unresolvedSnapshot_ = unresolvedTargetIDs_.value();
    }
    // A list that cannot be encoded leaves the stored one as it was.
    auto line = QuibCoder::line(list);
    if (!line) return;
    listBytes_ = line->size();
    auto saved = config_.settings->setBytes(defaultsKey, bytesOf(*line));
    if (saved) {
        if (saveFailure_) quibLog().info("The saved targets are saved again");
        saveFailure_.reset();
        return;
    }
    if (!saveFailure_) {
        quibLog().error("The saved targets could not be saved (", pub(saved.error().message), "); trying again every ",
                        static_cast<std::int64_t>(retryInterval.count()), "s");
    }
    saveFailure_ = saved.error().message;
    retryLater();
}

void TargetStore::retryLater() {
    if (retryScheduled_) return;
    retryScheduled_ = true;
    (void)config_.main->postAfter(retryInterval, [weak = weak_from_this()] {
        auto store = weak.lock();
        if (!store) return;
        store->retryScheduled_ = false;
        if (store->saveFailure_) store->persist();
    });
}

// Promotion skips the checks that new targets from phones pass, and leaves the active and the
// unresolved targets alone.
std::optional<QuibTarget> TargetStore::promote(const std::string& id) {
    assertOn(*config_.main);
    auto list = targets_.value();
    if (auto saved = firstWithID(list, id)) return saved;
    auto provisional = provisionalTargets_.value();
    auto adopted = firstWithID(provisional, id);
    if (!adopted) return std::nullopt;
    adopted->isProvisional = false;
    // A full list takes no more: the target serves as it is, unsaved, and stays on offer.
    if (auto refusal = checksExcluding(std::nullopt).limitRefusal(*adopted, true)) {
        quibLog().error("not saving ", pub(adopted->name), ": ", pub(*refusal));
        return std::nullopt;
    }
    list.push_back(*adopted);
    targets_.set(std::move(list));
    std::erase_if(provisional, [&](const QuibTarget& t) { return t.id == id; });
    provisionalTargets_.set(provisional);
    {
        MutexLock guard(snapshotLock_);
        provisionalSnapshot_ = std::move(provisional);
    }
    persist();
    return adopted;
}

void TargetStore::publishProvisional(std::vector<QuibTarget> provisional) {
    assertOn(*config_.main);
    if (provisional == provisionalTargets_.value()) return;
    provisionalTargets_.set(provisional);
    MutexLock guard(snapshotLock_);
    provisionalSnapshot_ = std::move(provisional);
}

void TargetStore::setTargets(std::vector<QuibTarget> targets) {
    targets_.set(std::move(targets));
    persist();
}

}  // namespace quib
