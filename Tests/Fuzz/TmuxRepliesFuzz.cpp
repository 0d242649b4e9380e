// Reads the input as the lines a control client prints, into the answers of a poll's two
// commands, and rebuilds from them what one run of tmux would have printed. Whatever the lines,
// an answer stays within its limit and keeps every line it took; a rebuilt output is the size
// line and exactly as many rows as it says. Each line read as a pane's marks gives marks or
// none, and marks equal to themselves count as unchanged only when their activity came before
// their clock.
#include <algorithm>
#include <string>
#include <vector>

#include "FuzzSupport.hpp"
#include "Platform/Tmux/TmuxControl.hpp"
#include "QuibHost/Streaming/PaneMirror.hpp"
#include "QuibHost/Streaming/PaneMirrorMarks.hpp"

namespace {

using namespace quib;

// The answers of up to two commands, as the client reads them from `lines`.
std::vector<TmuxControl::Reply> repliesOf(const std::vector<std::string_view>& lines, std::size_t limit) {
    std::vector<TmuxControl::Reply> replies;
    auto line = lines.begin();
    while (replies.size() < 2 && line != lines.end()) {
        TmuxControl::BlockReader reader(limit);
        auto step = TmuxControl::BlockReader::Step::more;
        while (step == TmuxControl::BlockReader::Step::more && line != lines.end()) step = reader.take(*line++);
        if (step != TmuxControl::BlockReader::Step::answered) break;
        replies.push_back(std::move(reader).reply());
    }
    return replies;
}

void requireWhole(const TmuxControl::Reply& reply, std::size_t limit) {
    fuzz::require(reply.state == TmuxControl::Reply::State::answered && reply.output.size() <= limit);
    const auto breaks = static_cast<std::size_t>(std::count(reply.output.begin(), reply.output.end(), '\n'));
    fuzz::require(reply.lines == 0 ? reply.output.empty() : breaks + 1 == reply.lines);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silenceLog();
    if (size < 1) return 0;
    const std::size_t limit = 1 + data[0] * 16u;
    std::string_view stream = fuzz::text(data + 1, size - 1);
    std::vector<std::string_view> lines;
    while (!stream.empty()) {
        const auto end = stream.find('\n');
        lines.push_back(stream.substr(0, end));
        stream = end == std::string_view::npos ? std::string_view() : stream.substr(end + 1);
    }
    for (const auto line : lines) {
        const auto marks = PaneMirrorMarks::parse(line);
        if (marks) fuzz::require(PaneMirrorMarks::unchangedSince(*marks, *marks) == (marks->activity < marks->clock));
    }
    const auto replies = repliesOf(lines, limit);
    for (const auto& reply : replies) requireWhole(reply, limit);
    const auto printed = PaneMirror::printed(replies);
    if (!printed || printed->empty()) return 0;
    fuzz::require(replies.size() == 2 && replies[0].ok && replies[1].ok);
    const auto picture = PaneMirror::parse(*printed);
    fuzz::require(picture.rows && static_cast<std::size_t>(*picture.rows) == replies[1].lines);
    fuzz::require(picture.text == replies[1].output + "\n");
    fuzz::require(*printed == replies[0].output + "\n" + picture.text);
    return 0;
}
