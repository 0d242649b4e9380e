#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quib::unicode {

// Upper-cases UTF-8 text by the Unicode rules (full case mapping, root locale).
std::string upper(std::string_view utf8);

// Lower-cases UTF-8 text by the Unicode rules (full case mapping, root locale).
std::string lower(std::string_view utf8);

// True for code points with the Unicode White_Space property.
bool isWhiteSpace(char32_t codePoint);

// The text without the White_Space code points (spaces, tabs, line breaks) at either end.
std::string_view trimWhiteSpace(std::string_view utf8);

// The number of words: runs of code points between White_Space code points (spaces, tabs and
// line breaks all separate; empty runs do not count). Ill-formed bytes count as characters.
std::size_t wordCount(std::string_view utf8);

// True for letters, marks and numbers (the general categories L, M and N).
bool isAlphanumeric(char32_t codePoint);

// True for code points whose Unicode numeric type is not none: ASCII digits, other scripts'
// digits, and numerals such as "Ⅻ" or "½".
bool isNumeric(char32_t codePoint);

// Classes of one code point; the first code point of a grapheme cluster stands for the cluster.
// Letters are the Alphabetic property, upper and lower case the Uppercase and Lowercase
// properties, and hexadecimal digits 0 to 9, a to f and A to F with their full-width forms.
bool isLetter(char32_t codePoint);
bool isUppercase(char32_t codePoint);
bool isLowercase(char32_t codePoint);
bool isHexDigit(char32_t codePoint);

// The first code point of well-formed UTF-8; U+FFFD for an ill-formed start, 0 for "".
char32_t firstCodePoint(std::string_view utf8);

// The canonical composition (NFC) of well-formed UTF-8, so that composed and decomposed forms
// of a text become the same bytes. Comparing composed forms byte by byte orders them by code
// point.
std::string composed(std::string_view utf8);

// Calls `visit` with each grapheme cluster of well-formed UTF-8, in order, as a view into the
// text. Safe on any thread.
void forEachGrapheme(std::string_view utf8, const std::function<void(std::string_view cluster)>& visit);

// True when the bytes are well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);

// True when the texts are the same ignoring letter case (full case folding), with composed and
// decomposed forms of a character counting as the same.
bool equalIgnoringCase(std::string_view a, std::string_view b);

// The text in the form in which equalIgnoringCase compares it (decomposed, case-folded,
// decomposed again): two texts are equal ignoring case exactly when their keys are the same
// bytes, so the keys can index a set.
std::string caselessKey(std::string_view utf8);

// Number of extended grapheme clusters (user-perceived characters).
std::size_t graphemeCount(std::string_view utf8);

// The text split into its grapheme clusters, each as UTF-8, in order.
std::vector<std::string> graphemeClusters(std::string_view utf8);

// The first `maxClusters` grapheme clusters of the text, never splitting a cluster.
std::string prefixGraphemes(std::string_view utf8, std::size_t maxClusters);

// The longest start of well-formed UTF-8 that takes at most `maxBytes`, never splitting a
// character.
std::string prefixBytes(std::string_view utf8, std::size_t maxBytes);

// Replaces every ill-formed UTF-8 sequence with U+FFFD.
std::string sanitizeUtf8(std::string_view bytes);

// Splits well-formed UTF-8 into code points; ill-formed sequences yield U+FFFD.
std::u32string codePoints(std::string_view utf8);

// Encodes one code point as UTF-8.
std::string toUtf8(char32_t codePoint);

// Orders two texts as people of the current locale sort them, ignoring letter case but not
// accents: negative when `a` sorts first, 0 when the two sort alike, positive when `b` does.
// The C and POSIX locales sort by the common rules of every language, not by byte values.
int compareLocalizedIgnoringCase(std::string_view a, std::string_view b);

}  // namespace quib::unicode
