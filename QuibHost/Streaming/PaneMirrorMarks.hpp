#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quib {

// What tmux says of a pane besides its contents, in one cheap line: enough to tell that the
// contents cannot have changed since a capture, so that an idle pane is not captured again.
//
// A pane's contents change by its output, which tmux reads, parses and marks as the activity of
// the pane's window in one turn of its loop; or by something done to the pane itself: another
// size (a resize, a zoom, a reflow), another process (a respawn), its death, a cleared history,
// another pane at its address (a swap, a move), a mode. The line holds the last activity and
// tmux's clock, both in whole seconds, and all of those others as they stand.
//
// tmux runs a list of commands in one turn of its loop, so marks asked for first in the list of a
// capture are the capture's own. Output after that capture, at a later moment, moves the
// activity to a second no earlier than the capture's clock: the contents may differ from the
// capture's whenever the activity is not the capture's, or is not earlier than its clock, or any
// other field differs. Marks read just before a capture, in a list of their own, serve it as
// well: whatever was done to the pane between the two shows against them as if done after it.
// tmux reads its clock coarsely (never ahead of the activity's), which only makes the capture's
// clock earlier. A clock set back by hand could hide output in a second that tmux has already
// seen: the mirror captures in full every little while regardless.
struct PaneMirrorMarks {
    // tmux's clock, "%s", is expanded by display-message alone, before the fields.
    static constexpr std::string_view format =
        "#{window_activity} %s #{pane_id} #{window_id} #{pane_pid} #{pane_dead} #{pane_width} #{pane_height} "
        "#{cursor_x} #{cursor_y} #{history_size} #{alternate_on} #{pane_in_mode} #{scroll_position}";

    std::int64_t activity = 0;  // when the pane's window last had output, in seconds
    std::int64_t clock = 0;     // tmux's time when it said so, in seconds
    std::string fields;         // the rest, as tmux printed them
    bool operator==(const PaneMirrorMarks&) const = default;

    // The command that asks for the marks of `pane`.
    static std::vector<std::string> arguments(const std::string& pane);
    // The line tmux printed; none unless it begins with the two times.
    static std::optional<PaneMirrorMarks> parse(std::string_view line);
    // Whether a pane that now shows `now` shows for certain what it showed when it was captured
    // with `captured`.
    static bool unchangedSince(const PaneMirrorMarks& captured, const PaneMirrorMarks& now);
};

}  // namespace quib
