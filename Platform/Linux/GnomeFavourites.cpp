#include "Platform/Linux/GnomeFavourites.hpp"

#include "Platform/Freedesktop/DesktopEntry.hpp"
#include "Runtime/Subprocess.hpp"

namespace quib {
namespace {

// Reads a printed array of strings from its front, one step at a time.
class StringArrayReader {
public:
    explicit StringArrayReader(std::string_view text) : rest_(text) {}

    std::optional<std::vector<std::string>> read() {
        skipSpaces();
        if (take("@as")) skipSpaces();  // the type GVariant names when the array is empty
        if (!take("[")) return std::nullopt;
        std::vector<std::string> items;
        skipSpaces();
        if (!take("]")) {
            do {
                skipSpaces();
                auto item = quoted();
                if (!item) return std::nullopt;
                items.push_back(std::move(*item));
                skipSpaces();
            } while (take(","));
            if (!take("]")) return std::nullopt;
        }
        skipSpaces();
        if (!rest_.empty()) return std::nullopt;
        return items;
    }

private:
    bool take(std::string_view token) {
        if (!rest_.starts_with(token)) return false;
        rest_.remove_prefix(token.size());
        return true;
    }
    void skipSpaces() {
        while (!rest_.empty() && std::string_view(" \t\r\n").find(rest_.front()) != std::string_view::npos)
            rest_.remove_prefix(1);
    }
    std::optional<std::string> quoted() {
        if (rest_.empty() || (rest_.front() != '\'' && rest_.front() != '"')) return std::nullopt;
        const char quote = rest_.front();
        rest_.remove_prefix(1);
        std::string item;
        while (!rest_.empty() && rest_.front() != quote) {
            if (rest_.front() == '\\') rest_.remove_prefix(1);
            if (rest_.empty()) break;
            item += rest_.front();
            rest_.remove_prefix(1);
        }
        if (!take(std::string_view(&quote, 1))) return std::nullopt;
        return item;
    }

    std::string_view rest_;
};

}  // namespace

std::optional<std::vector<std::string>> GnomeFavourites::parseStrings(std::string_view text) {
    return StringArrayReader(text).read();
}

std::set<std::string> GnomeFavourites::dockedIDs() const {
    const auto gsettings = gsettings_ ? gsettings_ : Subprocess::onPath("gsettings", Subprocess::searchPath());
    if (!gsettings) return {};
    const auto run = Subprocess::run(*gsettings, {"get", "org.gnome.shell", "favorite-apps"}, std::nullopt, timeout);
    if (!run.ok) return {};
    const auto items = parseStrings(run.output);
    if (!items) return {};
    std::set<std::string> ids;
    for (const auto& item : *items)
        if (auto id = DesktopEntry::key(item); !id.empty()) ids.insert(std::move(id));
    return ids;
}

}  // namespace quib
