#include "Runtime/SettingRow.hpp"

#include <cmath>
#include <sstream>

namespace quib {

namespace {

std::string numberText(double value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

template <class... Cases>
struct Overloaded : Cases... {
    using Cases::operator()...;
};
template <class... Cases>
Overloaded(Cases...) -> Overloaded<Cases...>;  // clang 14 deduces no aggregate's arguments

// `pattern` with each "{name}" of `blanks` replaced by its value; other braces stay as they are.
std::string filled(std::string_view pattern, std::span<const std::pair<std::string_view, std::string_view>> blanks) {
    std::string line;
    while (!pattern.empty()) {
        const auto open = pattern.find('{');
        line += pattern.substr(0, open);
        if (open == std::string_view::npos) break;
        pattern.remove_prefix(open);
        bool replaced = false;
        for (const auto& [name, value] : blanks) {
            if (pattern.size() < name.size() + 2 || pattern.substr(1, name.size()) != name ||
                pattern[name.size() + 1] != '}')
                continue;
            line += value;
            pattern.remove_prefix(name.size() + 2);
            replaced = true;
            break;
        }
        if (!replaced) {
            line += '{';
            pattern.remove_prefix(1);
        }
    }
    return line;
}

}  // namespace

std::string_view SettingRow::typeText() const {
    return std::visit(Overloaded{[](const Flag&) { return "switch"; }, [](const Whole&) { return "whole number"; },
                                 [](const Real&) { return "number"; }, [](const Text&) { return "text"; },
                                 [](const TextList&) { return "list of texts"; }, [](const Mark&) { return "mark"; },
                                 [](const Record&) { return "record"; }},
                      rule);
}

std::string SettingRow::ruleText() const {
    if (!ruleWords.empty()) return std::string(ruleWords);
    if (std::holds_alternative<Flag>(rule)) return "must be true or false";
    if (const auto* whole = std::get_if<Whole>(&rule))
        return "must be a whole number from " + std::to_string(whole->lowest) + " to " + std::to_string(whole->highest);
    return {};
}

std::string SettingRow::fallbackText() const {
    if (!fallbackWords.empty()) return std::string(fallbackWords);
    if (const auto* flag = std::get_if<Flag>(&rule)) return flag->fallback ? "true" : "false";
    if (const auto* whole = std::get_if<Whole>(&rule)) return std::to_string(whole->fallback);
    if (const auto* real = std::get_if<Real>(&rule); real && !std::isnan(real->fallback))
        return numberText(real->fallback);
    if (const auto* list = std::get_if<TextList>(&rule)) {
        std::string all;
        for (const auto text : list->fallback) all += (all.empty() ? "" : ", ") + std::string(text);
        return all;
    }
    return {};
}

std::string SettingRow::ignoredLine(std::string_view value, std::string_view why, std::string_view aside) const {
    const std::string ruleNow = ruleText(), fallbackNow = fallbackText();
    const std::pair<std::string_view, std::string_view> blanks[] = {
        {"key", key}, {"value", value}, {"rule", ruleNow}, {"fallback", fallbackNow}, {"why", why}, {"aside", aside}};
    return filled(ignored, blanks);
}

}  // namespace quib
