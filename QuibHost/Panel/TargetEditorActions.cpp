#include "QuibHost/Panel/TargetEditorActions.hpp"

#include <algorithm>

#include "Platform/Freedesktop/AppIdentity.hpp"
#include "Runtime/RegularFile.hpp"
#include "Runtime/UnicodeText.hpp"

namespace quib {
namespace {

constexpr std::string_view desktopSuffix = ".desktop";

std::string withoutDesktopSuffix(std::string name) {
    if (name.ends_with(desktopSuffix)) name.resize(name.size() - desktopSuffix.size());
    return name;
}

// The profile stored with an app target of this identifier, by the rule new app targets follow
// (AppIdentity::withGuessedProfile): none where the phones' own guess already agrees.
std::optional<std::string> ruleProfile(const std::optional<std::string>& bundleID) {
    QuibTarget probe;
    probe.kind = QuibTarget::Kind::app;
    probe.bundleID = bundleID;
    return AppIdentity::withGuessedProfile(std::move(probe)).profileID;
}

}  // namespace

std::shared_ptr<TargetEditorActions> TargetEditorActions::create(Config config, TargetBinding binding) {
    auto actions = std::make_shared<TargetEditorActions>(Passkey(), std::move(config), std::move(binding));
    actions->watch();
    return actions;
}

TargetEditorActions::TargetEditorActions(Passkey, Config config, TargetBinding binding)
    : config_(std::move(config)), binding_(std::move(binding)), model_(config_.main, {}) {
    kind_ = binding_.value().kind;
    rebuild();
}

void TargetEditorActions::watch() {
    targets_ = config_.store->targets().subscribe(
        [weak = weak_from_this()](const auto&) {
            if (auto self = weak.lock()) self->targetChanged();
        },
        {.skipCurrent = true});
}

void TargetEditorActions::setBinding(TargetBinding binding) {
    binding_ = std::move(binding);
    targetChanged();
}

void TargetEditorActions::appeared(std::function<void()> listed) {
    appeared_ = true;
    kind_ = binding_.value().kind;
    refresh(std::move(listed));
}

// A change of kind after the editor appeared refreshes the lists, whoever made it.
void TargetEditorActions::targetChanged() {
    const auto kind = binding_.value().kind;
    const bool kindChanged = kind_ != kind;
    kind_ = kind;
    rebuild();
    if (appeared_ && kindChanged) refresh();
}

void TargetEditorActions::rebuild() {
    model_.set(TargetEditorModel::build({.target = binding_.value(),
                                         .runningApps = runningApps_,
                                         .tmuxPanes = tmuxPanes_,
                                         .tmuxAvailable = config_.tmux.isAvailable()}));
}

void TargetEditorActions::refresh(std::function<void()> listed) {
    runningApps_ = listRunningApps();
    rebuild();
    refreshPanes(std::move(listed));
}

// The running apps with an installed entry that has a name, by name in lower case; apps of one
// name keep the workspace's order, and an app listed twice is offered twice.
std::vector<RunningAppChoice> TargetEditorActions::listRunningApps() const {
    const auto running = config_.workspace->runningApps();
    if (running.empty()) return {};
    const auto installed = config_.apps->installed();
    const std::string locale = DesktopEntry::messagesLocale();
    std::vector<RunningAppChoice> choices;
    for (const auto& app : running) {
        if (!app.bundleID) continue;
        const auto entry = DesktopEntries::find(installed, *app.bundleID);
        if (!entry) continue;
        std::string name = entry->localizedName(locale);
        if (!name.empty()) choices.push_back({std::move(name), *app.bundleID});
    }
    std::ranges::stable_sort(choices, {}, [](const RunningAppChoice& choice) { return unicode::lower(choice.name); });
    return choices;
}

void TargetEditorActions::refreshPanes(std::function<void()> listed) {
    if (!config_.tmux.isAvailable()) {
        tmuxPanes_.clear();
        rebuild();
        if (listed) listed();
        return;
    }
    config_.tmuxQueue->post(
        [weak = weak_from_this(), tmux = config_.tmux, main = config_.main, listed = std::move(listed)]() mutable {
            main->post([weak, panes = tmux.listPanes(), listed = std::move(listed)]() mutable {
                auto self = weak.lock();
                if (!self) return;
                self->tmuxPanes_ = std::move(panes);
                self->rebuild();
                if (listed) listed();
            });
        });
}

Result<void> TargetEditorActions::write(QuibTarget target) {
    // The binding logs a refusal.
    auto refusal = binding_.set(std::move(target));
    rebuild();
    if (!refusal) return {};
    return fail(std::move(*refusal));
}

Result<void> TargetEditorActions::setName(std::string name) {
    auto target = binding_.value();
    target.name = std::move(name);
    return write(std::move(target));
}

Result<void> TargetEditorActions::setSymbol(std::string symbol) {
    auto target = binding_.value();
    target.symbol = std::move(symbol);
    return write(std::move(target));
}

Result<void> TargetEditorActions::setKind(QuibTarget::Kind kind) {
    auto target = binding_.value();
    target.kind = kind;
    return write(std::move(target));
}

Result<void> TargetEditorActions::setBundleID(std::string bundleID) {
    auto target = binding_.value();
    target.bundleID = std::move(bundleID);
    return write(std::move(target));
}

Result<void> TargetEditorActions::pickRunningApp(std::string tag) { return setBundleID(std::move(tag)); }

Result<void> TargetEditorActions::pickPane(std::string tag) {
    auto target = binding_.value();
    target.tmuxTarget = std::move(tag);
    return write(std::move(target));
}

Result<void> TargetEditorActions::setAllowAutoSubmit(bool allowed) {
    auto target = binding_.value();
    target.allowAutoSubmit = allowed;
    return write(std::move(target));
}

Result<void> TargetEditorActions::setSubmitOnSend(bool submit) {
    auto target = binding_.value();
    if (!target.allowAutoSubmit)
        return fail("Press Return after sending can't change while pressing Return is not allowed");
    target.submitOnSend = submit;
    return write(std::move(target));
}

bool TargetEditorActions::chooseApp() {
    const auto file = config_.chooser->chooseApplication();
    if (!file) return false;
    const auto chosen = readChosen(*file);
    if (!chosen) return false;
    auto target = binding_.value();
    // Buttons that followed the old app follow the new one; pinned ones stay.
    const bool followed =
        !target.profileID || target.profileID->empty() || target.profileID == ruleProfile(target.bundleID);
    target.bundleID = chosen->bundleID;
    if (followed) target.profileID = ruleProfile(target.bundleID);
    (void)write(target);
    if (unicode::trimWhiteSpace(binding_.value().name).empty()) {
        auto named = binding_.value();
        named.name = chosen->name;
        (void)write(std::move(named));
    }
    refresh();
    return true;
}

std::optional<TargetEditorActions::ChosenApp> TargetEditorActions::readChosen(const std::filesystem::path& file) const {
    const auto text = readRegularFile(file, DesktopEntry::largestFile);
    if (!text) return std::nullopt;
    const std::string baseName = withoutDesktopSuffix(file.filename().string());
    auto entry = DesktopEntry::parse(*text, config_.apps->idOfFile(file).value_or(baseName), file);
    if (!entry || entry->type != "Application") return std::nullopt;
    std::string name = entry->localizedName();
    return ChosenApp{entry->id, name.empty() ? baseName : std::move(name)};
}

}  // namespace quib
