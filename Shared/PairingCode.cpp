#include "Shared/PairingCode.hpp"

#include <algorithm>
#include <set>
#include <vector>

#include "Runtime/HostWords.hpp"
#include "Runtime/UnicodeText.hpp"

namespace quib {
namespace {

// A character (grapheme cluster) the user may type as a separator, which normalizing drops.
bool isSeparator(const std::string& character) {
    if (character == "-" || character == "_") return true;
    const std::u32string points = unicode::codePoints(character);
    return !points.empty() && unicode::isWhiteSpace(points.front());
}

bool isInAlphabet(const std::string& character) {
    return character.size() == 1 && PairingCode::alphabet.find(character.front()) != std::string_view::npos;
}

// The normalized text's characters, one grapheme cluster each.
std::vector<std::string> normalizedCharacters(std::string_view text) {
    std::vector<std::string> characters = unicode::graphemeClusters(unicode::upper(text));
    std::erase_if(characters, isSeparator);
    return characters;
}

}  // namespace

std::string PairingCode::Problem::message() const {
    switch (kind) {
        case Kind::empty: return std::string(said<"Enter the six-character code shown on ", HostWords::yourComputer>);
        case Kind::illegalCharacters: return characters + " can't appear in a pairing code (there is no O, 0, I or 1)";
        case Kind::wrongLength:
            return "Pairing codes are " + std::to_string(PairingCode::length) + " characters \u2014 this one has " +
                   std::to_string(foundLength);
    }
    return {};
}

std::string PairingCode::normalize(std::string_view text) {
    std::string out;
    for (const std::string& character : normalizedCharacters(text)) out += character;
    return out;
}

std::optional<PairingCode::Problem> PairingCode::validate(std::string_view text) {
    const std::vector<std::string> characters = normalizedCharacters(text);
    if (characters.empty()) return Problem::empty();

    // Distinct, in ascending order of their code points (UTF-8 byte order is code point order).
    std::set<std::string> illegal;
    for (const std::string& character : characters)
        if (!isInAlphabet(character)) illegal.insert(character);
    if (!illegal.empty()) {
        std::string joined;
        for (const std::string& character : illegal) joined += (joined.empty() ? "" : ", ") + character;
        return Problem::illegalCharacters(std::move(joined));
    }

    if (characters.size() != static_cast<std::size_t>(length))
        return Problem::wrongLength(static_cast<int>(characters.size()));
    return std::nullopt;
}

}  // namespace quib
