#include "QuibHost/App/TargetEditorCommands.hpp"
#include "QuibHost/App/TargetLookup.hpp"

#include <algorithm>

#include "QuibHost/Panel/GivenAppChooser.hpp"

namespace quib {
namespace {

constexpr auto stringField = &ControlSocket::stringField;

void answerWrite(ControlSocket::Reply& reply, const Result<void>& written) {
    if (!written) return reply.fail(written.error().message + ".");
    reply.answer(Json{{"message", "Stored"}});
}

// "on" or "off".
std::optional<bool> switchPosition(const std::string& value) {
    if (value == "on") return true;
    if (value == "off") return false;
    return std::nullopt;
}

// The tag of the picker row `value` names: the tag itself, or for a pane the address its row
// begins with ("work:0.0", shown before the pane's program).
std::optional<std::string> rowFor(const std::vector<MenuItem>& rows, const std::string& value, bool byAddress) {
    for (const MenuItem& row : rows)
        if (row.key == value) return row.key;
    if (!byAddress || value.empty()) return std::nullopt;
    for (const MenuItem& row : rows)
        if (!row.key.empty() && (row.text == value || row.text.starts_with(value + "  "))) return row.key;
    return std::nullopt;
}

}  // namespace

void TargetEditorCommands::run(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply) {
    const auto target = TargetLookup::find(*config_.editor.store, stringField(request, "target"));
    if (!target) return reply->fail(target.error().message);
    const std::string id = target->id;
    if (request.contains("chooseApp")) {
        const std::filesystem::path file = stringField(request, "chooseApp");
        const auto editor = open(*target, file);
        if (!editor->chooseApp())
            return reply->fail(file.string() + " is not the desktop entry of an application; nothing changed.");
        return reply->answer(
            Json{{"message", "The target's app is now " + config_.editor.store->target(id)->bundleID.value_or("")}});
    }
    const auto editor = open(*target, std::nullopt);
    if (request.contains("set")) return set(editor, stringField(request, "set"), stringField(request, "value"), reply);
    const bool panesOnly = request.value("refresh", Json(false)) == Json(true);
    whenListed(editor, panesOnly, [reply](TargetEditorActions& done) {
        reply->answer(Json{{"lines", done.model().value().lines()}});
    });
}

std::shared_ptr<TargetEditorActions> TargetEditorCommands::open(const QuibTarget& target,
                                                                std::optional<std::filesystem::path> chosen) const {
    auto editor = config_.editor;
    editor.chooser = std::make_shared<GivenAppChooser>(std::move(chosen));
    return TargetEditorActions::create(std::move(editor), TargetBinding(config_.editor.store, target));
}

// Whichever comes first, the pane answer or the limit, runs `work`; the other does nothing.
void TargetEditorCommands::whenListed(const std::shared_ptr<TargetEditorActions>& editor, bool panesOnly,
                                      std::function<void(TargetEditorActions&)> work) const {
    auto pending = std::make_shared<std::function<void(TargetEditorActions&)>>(std::move(work));
    auto finish = [editor, pending] {
        if (auto work = std::exchange(*pending, nullptr)) work(*editor);
    };
    if (panesOnly) editor->refreshPanes(finish);
    else editor->appeared(finish);
    config_.editor.main->postAfter(listingLimit, finish);
}

void TargetEditorCommands::set(const std::shared_ptr<TargetEditorActions>& editor, const std::string& field,
                               const std::string& value, const std::shared_ptr<ControlSocket::Reply>& reply) const {
    auto& actions = *editor;
    if (field == "name") return answerWrite(*reply, actions.setName(value));
    if (field == "symbol") return answerWrite(*reply, actions.setSymbol(value));
    if (field == "bundle") return answerWrite(*reply, actions.setBundleID(value));
    if (field == "kind") {
        const auto kind = enumFromName<QuibTarget::Kind>(value);
        if (!kind) return reply->fail("Say which kind: app, tmux or frontmost.");
        return answerWrite(*reply, actions.setKind(*kind));
    }
    if (field == "allow-return" || field == "press-return") {
        const auto on = switchPosition(value);
        if (!on) return reply->fail("Say on or off.");
        return answerWrite(*reply,
                           field == "allow-return" ? actions.setAllowAutoSubmit(*on) : actions.setSubmitOnSend(*on));
    }
    if (field != "app" && field != "pane")
        return reply->fail("Say which control: name, symbol, kind, bundle, app, pane, allow-return or press-return.");
    // A picker offers its rows only: the lists are refreshed first, as the form would show them.
    const std::string_view picker = field == "app" ? TargetEditorModel::runningApp : TargetEditorModel::pane;
    whenListed(editor, false, [reply, picker, value, field](TargetEditorActions& done) {
        const auto rows = done.model().value().rows(picker);
        std::string quoted = "\"";
        quoted.append(picker).append("\"");
        if (rows.empty()) return reply->fail("This target's kind shows no " + quoted + " picker.");
        const auto row = rowFor(rows, value, field == "pane");
        if (!row) return reply->fail(quoted + " has no row for \"" + value + "\".");
        answerWrite(*reply, field == "app" ? done.pickRunningApp(*row) : done.pickPane(*row));
    });
}

}  // namespace quib
