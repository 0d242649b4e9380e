// Reads the input as tmux's pane listing, and builds one record of its own from the input's
// pieces. Every pane read has an identifier, an address and a command of the right shapes, and
// a record of any session name, command and folder reads back as exactly its one pane.
#include <string>
#include <vector>

#include "FuzzSupport.hpp"
#include "Platform/Tmux/Tmux.hpp"

namespace {

using namespace quib;

// The listing's record of a pane in `session`, as tmux prints it.
std::string record(const Tmux::Pane& pane, std::string_view session) {
    return pane.id + "|" + std::to_string(session.size()) + "|" + std::to_string(pane.command.size()) + "|" +
           std::to_string(pane.path.size()) + "|" + pane.spec + "|" + pane.command + "|" + pane.path + "|";
}

// The input cut at its first three 0x01 bytes.
std::vector<std::string_view> pieces(std::string_view text) {
    std::vector<std::string_view> out;
    for (int i = 0; i < 3; ++i) {
        const auto cut = text.find('\x01');
        if (cut == std::string_view::npos) break;
        out.push_back(text.substr(0, cut));
        text.remove_prefix(cut + 1);
    }
    out.push_back(text);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silenceLog();
    const std::string_view text = fuzz::text(data, size);
    for (const auto& pane : Tmux::parsePanes(text)) {
        fuzz::require(Tmux::isPaneID(pane.id) && Tmux::isPaneSpec(pane.spec) && !pane.command.empty());
        (void)Tmux::paneCheckArguments(pane.spec);
    }
    (void)Tmux::isPaneSpec(text);
    (void)Tmux::isPaneID(text);

    const auto parts = pieces(text);
    if (parts.size() < 3 || parts[0].empty() || parts[1].empty()) return 0;
    const std::string session(parts[0]);
    const Tmux::Pane pane{"%7", session + ":1.2", std::string(parts[1]), std::string(parts[2])};
    const std::string listing = record(pane, session);
    fuzz::require(Tmux::parsePanes(listing) == std::vector<Tmux::Pane>{pane});
    // Another record after it, or before it, changes nothing about it.
    const Tmux::Pane other{"%8", "w:0.0", "zsh", "/"};
    fuzz::require(Tmux::parsePanes(listing + "\n" + record(other, "w")) == (std::vector<Tmux::Pane>{pane, other}));
    fuzz::require(Tmux::parsePanes(record(other, "w") + "\n" + listing) == (std::vector<Tmux::Pane>{other, pane}));
    return 0;
}
