#include "QuibHost/App/ControlCommand.hpp"

#include <algorithm>
#include <cstdint>
#include <filesystem>

#include "Runtime/UnicodeText.hpp"

namespace quib {
namespace {

// "  form                 does", the form on a line of its own when it is long.
std::string usageLine(const ControlCommand& command) {
    constexpr std::size_t column = 23;
    std::string line = "  " + std::string(command.form);
    if (line.size() + 1 > column) line += "\n" + std::string(column, ' ');
    else line += std::string(column - line.size(), ' ');
    for (const char c : command.does) {
        line += c;
        if (c == '\n') line += std::string(column, ' ');
    }
    return line + "\n";
}

std::vector<std::string> commaSeparated(const std::string& list) {
    std::vector<std::string> items;
    std::size_t start = 0;
    for (std::size_t comma; (comma = list.find(',', start)) != std::string::npos; start = comma + 1)
        items.push_back(list.substr(start, comma - start));
    items.push_back(list.substr(start));
    std::erase(items, std::string());
    return items;
}

// A whole non-negative decimal number.
std::optional<std::uint64_t> offsetOf(const std::string& text) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoull(text);
}

Json named(const ControlCommand::Arguments& arguments) { return Json{{"command", arguments[0]}}; }

}  // namespace

std::string ControlCommand::usage() {
    std::string text;
    for (const auto& command : controlCommands) text += usageLine(command);
    return text;
}

std::string ControlCommand::usageOf(std::string_view name) {
    std::string text;
    for (const auto& command : controlCommands)
        if (command.name == name) text += usageLine(command);
    return text.empty() ? text : "usage: quibctl " + std::string(name) + " ...\n" + text;
}

std::string ControlCommand::knownList() {
    std::vector<std::string_view> names;
    for (const auto& command : controlCommands)
        if (names.empty() || names.back() != command.name) names.push_back(command.name);
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i)
        text += std::string(i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + std::string(names[i]);
    return text;
}

std::optional<Json> ControlCommand::requestFor(const Arguments& arguments) {
    if (arguments.empty()) return std::nullopt;
    for (const auto& command : controlCommands) {
        if (command.name != arguments[0]) continue;
        if (auto request = command.request(arguments)) return request;
    }
    return std::nullopt;
}

std::optional<Json> ControlCommand::bare(const Arguments& arguments) {
    if (arguments.size() != 1) return std::nullopt;
    return named(arguments);
}

std::optional<Json> ControlCommand::oneArgument(const Arguments& arguments, const char* key) {
    if (arguments.size() != 2 || arguments[1].empty()) return std::nullopt;
    Json request = named(arguments);
    request[key] = arguments[1];
    return request;
}

std::optional<Json> ControlCommand::oneOf(const Arguments& arguments, const char* key,
                                          std::initializer_list<std::string_view> words) {
    if (arguments.size() != 2 || std::find(words.begin(), words.end(), arguments[1]) == words.end())
        return std::nullopt;
    return oneArgument(arguments, key);
}

std::optional<Json> ControlCommand::flag(const Arguments& arguments, std::string_view word, const char* key) {
    if (arguments.size() != 2 || arguments[1] != word) return std::nullopt;
    Json request = named(arguments);
    request[key] = true;
    return request;
}

std::optional<Json> ControlCommand::onOff(const Arguments& arguments, const char* key) {
    if (arguments.size() != 2 || (arguments[1] != "on" && arguments[1] != "off")) return std::nullopt;
    Json request = named(arguments);
    request[key] = arguments[1] == "on";
    return request;
}

std::optional<Json> ControlCommand::removeTargets(const Arguments& arguments) {
    if (arguments.size() < 3 || arguments[1] != "remove") return std::nullopt;
    return Json{{"command", "targets"}, {"remove", std::vector<std::string>(arguments.begin() + 2, arguments.end())}};
}

// targets move OFFSET... --to N
std::optional<Json> ControlCommand::moveTargets(const Arguments& arguments) {
    if (arguments.size() < 2 || arguments[1] != "move") return std::nullopt;
    if (arguments.size() < 5 || arguments[arguments.size() - 2] != "--to") return std::nullopt;
    Json offsets = Json::array();
    for (std::size_t i = 2; i + 2 < arguments.size(); ++i) {
        const auto offset = offsetOf(arguments[i]);
        if (!offset) return std::nullopt;
        offsets.push_back(*offset);
    }
    const auto to = offsetOf(arguments.back());
    if (!to) return std::nullopt;
    return Json{{"command", "targets"}, {"move", std::move(offsets)}, {"to", *to}};
}

std::optional<Json> ControlCommand::settings(const Arguments& arguments) {
    const bool show = arguments[0] == "show";
    if (show && (arguments.size() < 2 || arguments[1] != "settings")) return std::nullopt;
    const std::size_t words = show ? 2 : 1;
    Json request = show ? Json{{"command", "show"}, {"item", "settings"}} : Json{{"command", "settings"}};
    if (arguments.size() == words) return request;
    if (arguments.size() != words + 2 || arguments[words] != "--select") return std::nullopt;
    const auto ids = commaSeparated(arguments[words + 1]);
    if (ids.empty() || (show && ids.size() != 1)) return std::nullopt;
    if (show) request["select"] = ids.front();
    else request["select"] = ids;
    return request;
}

std::optional<Json> ControlCommand::target(const Arguments& arguments) {
    if (arguments.size() < 2) return std::nullopt;
    Json request{{"command", "target"}, {"target", arguments[1]}};
    if (arguments.size() == 2) return request;
    if (arguments.size() == 3 && arguments[2] == "refresh") request["refresh"] = true;
    else if (arguments.size() == 4 && arguments[2] == "choose-app" && !arguments[3].empty()) {
        // The request is JSON, which carries UTF-8 only.
        const std::string file = std::filesystem::absolute(arguments[3]).string();
        if (!unicode::isValidUtf8(file)) return std::nullopt;
        request["chooseApp"] = file;
    } else if (arguments.size() == 5 && arguments[2] == "set") {
        request["set"] = arguments[3];
        request["value"] = arguments[4];
    } else return std::nullopt;
    return request;
}

std::optional<Json> ControlCommand::answer(const Arguments& arguments) {
    if (arguments.size() != 3 || arguments[1].empty() || (arguments[2] != "approve" && arguments[2] != "deny"))
        return std::nullopt;
    return Json{{"command", "answer"}, {"request", arguments[1]}, {"decision", arguments[2]}};
}

}  // namespace quib
