#include "Shared/TmuxPane.hpp"

#include <vector>

namespace quib {

std::string TmuxPane::shortPath() const {
    std::vector<std::string_view> pieces;
    std::string_view rest = path;
    while (!rest.empty()) {
        const auto slash = rest.find('/');
        const auto piece = rest.substr(0, slash);
        if (!piece.empty()) pieces.push_back(piece);
        if (slash == std::string_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
    const std::size_t first = pieces.size() > 2 ? pieces.size() - 2 : 0;
    std::string out;
    for (std::size_t i = first; i < pieces.size(); ++i) {
        if (!out.empty()) out += '/';
        out += pieces[i];
    }
    return out;
}

TmuxPane TmuxPane::fromJson(const Json& json) {
    const JsonReader r(json);
    return TmuxPane{r.required<std::string>("id"), r.required<std::string>("spec"), r.required<std::string>("command"),
                    r.required<std::string>("path")};
}

Json TmuxPane::toJson() const {
    return JsonWriter().put("id", id).put("spec", spec).put("command", command).put("path", path).take();
}

}  // namespace quib
