#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quib {

// The width a text takes when drawn, in whatever unit the caller lays out in.
using TextMeasure = std::function<double(std::string_view text)>;

// How a text breaks into lines no wider than `width`: at each line feed, and after the last
// blank before the word that would overflow the line (a word wider than the line breaks before
// the character that would overflow it, and a character wider than the whole line gets a line
// of its own). Blanks at the end of a line take no room. Characters are UTF-8 code points. An
// empty text is one empty line.
std::vector<std::string> wrapLines(std::string_view text, double width, const TextMeasure& measure);

// The text when it takes at most `lines` lines; else as much of its beginning and its end as
// fits in them around an ellipsis, cut where words or lines begin (the beginning keeping the
// odd word), or between characters when not one word of each end fits.
std::string elideMiddle(std::string_view text, int lines, double width, const TextMeasure& measure);

}  // namespace quib
