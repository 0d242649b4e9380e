#include "Platform/Freedesktop/DesktopEntry.hpp"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "Runtime/AsciiText.hpp"

namespace quib {
namespace {

constexpr std::string_view mainGroup = "[Desktop Entry]";

std::string_view trimSpaces(std::string_view text) {
    const auto begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos) return {};
    const auto end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

// A string value with \s, \n, \t, \r and \\ resolved; any other escape is kept as written, so
// that the list and Exec rules can read their own.
std::string unescape(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (const char next = value[++i]) {
            case 's': out += ' '; break;
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case '\\': out += '\\'; break;
            default: out += '\\', out += next;
        }
    }
    return out;
}

// A ";"-separated list ("\;" is a literal semicolon); empty items are dropped.
std::vector<std::string> listOf(std::string_view value) {
    std::vector<std::string> items;
    std::string item;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size() && value[i + 1] == ';') {
            item += ';';
            ++i;
        } else if (value[i] == ';') {
            if (!item.empty()) items.push_back(std::move(item));
            item.clear();
        } else {
            item += value[i];
        }
    }
    if (!item.empty()) items.push_back(std::move(item));
    return items;
}

// The keys of the main group, the first value of each; other groups are skipped.
std::map<std::string, std::string, std::less<>> mainGroupKeys(std::string_view text, bool& found) {
    std::map<std::string, std::string, std::less<>> keys;
    bool inMain = false;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = trimSpaces(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            inMain = line == mainGroup;
            found = found || inMain;
            continue;
        }
        const auto equals = line.find('=');
        if (!inMain || equals == std::string_view::npos) continue;
        keys.emplace(std::string(trimSpaces(line.substr(0, equals))), std::string(trimSpaces(line.substr(equals + 1))));
    }
    return keys;
}

// The values of `key` in other languages: "Name[de]=Dateien" gives "de" -> "Dateien".
std::map<std::string, std::string> localizedValues(const std::map<std::string, std::string, std::less<>>& keys,
                                                   std::string_view key) {
    std::map<std::string, std::string> values;
    for (const auto& [name, value] : keys) {
        const std::string_view text = name;
        if (text.size() > key.size() + 2 && text.starts_with(key) && text[key.size()] == '[' && text.ends_with(']'))
            values.emplace(text.substr(key.size() + 1, text.size() - key.size() - 2), unescape(value));
    }
    return values;
}

// The locale keys to look for, the best match first: lang_COUNTRY@MODIFIER, lang_COUNTRY,
// lang@MODIFIER, lang. The encoding never takes part.
std::vector<std::string> localeCandidates(std::string_view locale) {
    const auto at = locale.find('@');
    const std::string modifier = at == std::string_view::npos ? "" : std::string(locale.substr(at));
    locale = locale.substr(0, at);
    locale = locale.substr(0, locale.find('.'));
    const auto underscore = locale.find('_');
    const std::string lang(locale.substr(0, underscore));
    const std::string country = underscore == std::string_view::npos ? "" : std::string(locale.substr(underscore));
    std::vector<std::string> candidates;
    if (lang.empty()) return candidates;
    if (!country.empty() && !modifier.empty()) candidates.push_back(lang + country + modifier);
    if (!country.empty()) candidates.push_back(lang + country);
    if (!modifier.empty()) candidates.push_back(lang + modifier);
    candidates.push_back(lang);
    return candidates;
}

// The first word of an Exec line: quoted words keep their spaces, and inside quotes a backslash
// escapes the next character.
std::string firstWord(std::string_view exec) {
    std::string word;
    bool quoted = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted && c == '\\' && i + 1 < exec.size()) word += exec[++i];
        else if (c == '"') quoted = !quoted;
        else if (!quoted && (c == ' ' || c == '\t')) {
            if (!word.empty()) break;
        } else word += c;
    }
    return word;
}

}  // namespace

std::optional<DesktopEntry> DesktopEntry::parse(std::string_view text, std::string id, std::filesystem::path file) {
    bool found = false;
    const auto keys = mainGroupKeys(text, found);
    if (!found) return std::nullopt;
    const auto value = [&](std::string_view key) {
        const auto at = keys.find(key);
        return at == keys.end() ? std::string() : unescape(at->second);
    };
    DesktopEntry entry;
    entry.id = std::move(id);
    entry.file = std::move(file);
    entry.type = value("Type");
    entry.name = value("Name");
    entry.localizedNames = localizedValues(keys, "Name");
    entry.exec = value("Exec");
    entry.tryExec = value("TryExec");
    entry.icon = value("Icon");
    entry.startupWMClass = value("StartupWMClass");
    entry.categories = listOf(value("Categories"));
    entry.noDisplay = value("NoDisplay") == "true";
    entry.hidden = value("Hidden") == "true";
    entry.terminal = value("Terminal") == "true";
    return entry;
}

std::string DesktopEntry::messagesLocale() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) return value;
    }
    return "";
}

std::string DesktopEntry::localizedName(std::string_view locale) const {
    for (const std::string& candidate : localeCandidates(locale)) {
        const auto found = localizedNames.find(candidate);
        if (found != localizedNames.end()) return found->second;
    }
    return name;
}

std::string DesktopEntry::program() const {
    const std::string word = firstWord(exec);
    const auto slash = word.rfind('/');
    return slash == std::string::npos ? word : word.substr(slash + 1);
}

std::string DesktopEntry::key(std::string_view idOrFileName) {
    constexpr std::string_view suffix = ".desktop";
    if (idOrFileName.ends_with(suffix)) idOrFileName.remove_suffix(suffix.size());
    return ascii::lowered(idOrFileName);
}

bool DesktopEntry::isTerminalEmulator() const {
    return std::ranges::find(categories, "TerminalEmulator") != categories.end();
}

}  // namespace quib
