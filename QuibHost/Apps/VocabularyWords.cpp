// The words of the vocabulary: candidates and their weights, identifiers read from source files,
// the parts of a word, and the ranking that drops what a recogniser needs no help with.

#include <algorithm>
#include <utility>

#include "QuibHost/Apps/Vocabulary.hpp"
#include "Runtime/RegularFile.hpp"
#include "Runtime/UnicodeText.hpp"

namespace quib {
namespace {

std::size_t characterCount(std::string_view text) {
    std::size_t count = 0;
    unicode::forEachGrapheme(text, [&](std::string_view) { ++count; });
    return count;
}

bool isSeparator(std::string_view character) {
    return character == "_" || character == "-" || character == "/" || character == ".";
}

// Letters, numbers and "_" make up identifiers.
bool extendsWord(std::string_view character) {
    if (character == "_") return true;
    const char32_t first = unicode::firstCodePoint(character);
    return unicode::isLetter(first) || unicode::isNumeric(first);
}

bool isSourceFile(const std::filesystem::path& file) {
    const std::string extension = file.extension().string();
    if (extension.size() < 2) return false;
    const std::string lowered = unicode::lower(std::string_view(extension).substr(1));
    return std::ranges::find(Vocabulary::sourceExtensions, lowered) != Vocabulary::sourceExtensions.end();
}

// What the ranking looks at in a term's characters.
struct Shape {
    std::size_t characters = 0;
    bool startsWithNumber = false;
    bool allHex = true;
    bool allLetters = true;
};

Shape shapeOf(std::string_view term) {
    Shape shape;
    unicode::forEachGrapheme(term, [&](std::string_view character) {
        const char32_t first = unicode::firstCodePoint(character);
        if (shape.characters++ == 0) shape.startsWithNumber = unicode::isNumeric(first);
        shape.allHex = shape.allHex && unicode::isHexDigit(first);
        shape.allLetters = shape.allLetters && unicode::isLetter(first);
    });
    return shape;
}

}  // namespace

void Vocabulary::ScoreTable::add(std::string_view term, double weight) {
    const std::size_t length = characterCount(term);
    if (length < shortestTerm || length > longestTerm) return;
    const auto [at, isNew] = index_.try_emplace(unicode::composed(term), entries_.size());
    if (isNew) entries_.emplace_back(term, weight);
    else entries_[at->second].second = std::max(entries_[at->second].second, weight);
}

std::optional<double> Vocabulary::ScoreTable::weight(std::string_view term) const {
    const auto found = index_.find(unicode::composed(term));
    if (found == index_.end()) return std::nullopt;
    return entries_[found->second].second;
}

std::vector<std::string> Vocabulary::parts(std::string_view word) {
    std::vector<std::string> pieces;
    std::string piece;
    bool afterLowercase = false;
    unicode::forEachGrapheme(word, [&](std::string_view character) {
        const char32_t first = unicode::firstCodePoint(character);
        const bool separates = isSeparator(character);
        if ((separates || (afterLowercase && unicode::isUppercase(first))) && !piece.empty())
            pieces.push_back(std::exchange(piece, {}));
        if (!separates) piece += character;
        afterLowercase = !separates && unicode::isLowercase(first);
    });
    if (!piece.empty()) pieces.push_back(std::move(piece));
    if (pieces.size() < 2) return {};
    return pieces;
}

std::vector<std::string> Vocabulary::identifiers(const std::filesystem::path& file) {
    if (!isSourceFile(file)) return {};
    const auto text = readRegularFile(file, largestSourceFile);
    if (!text || !unicode::isValidUtf8(*text)) return {};
    std::vector<std::string> words;
    const std::string_view all(*text);
    std::size_t start = 0;
    std::size_t length = 0;
    const auto endWord = [&](std::size_t end) {
        if (length >= shortestTerm) {
            const std::string_view word = all.substr(start, end - start);
            words.emplace_back(word);
            for (auto& part : parts(word)) words.push_back(std::move(part));
        }
        length = 0;
    };
    unicode::forEachGrapheme(all, [&](std::string_view character) {
        const auto at = static_cast<std::size_t>(character.data() - all.data());
        if (!extendsWord(character)) return endWord(at);
        if (length++ == 0) start = at;
    });
    endWord(all.size());
    return words;
}

std::vector<std::string> Vocabulary::rank(const ScoreTable& table) {
    struct Kept {
        std::string term;
        double weight;
        std::string order;  // the composed form: equivalent terms sort as one, by code point
    };
    std::vector<Kept> kept;
    std::unordered_map<std::string, std::size_t> byLowercase;
    for (const auto& [term, weight] : table.entries()) {
        const Shape shape = shapeOf(term);
        if (shape.characters < shortestTerm || shape.startsWithNumber) continue;
        if (shape.characters >= 7 && shape.allHex) continue;
        const std::string lowered = unicode::lower(term);
        if (shape.allLetters && lowered == term && isDictionaryWord(term)) continue;
        const auto [at, isNew] = byLowercase.try_emplace(unicode::composed(lowered), kept.size());
        if (isNew) kept.push_back({term, weight, {}});
        else if (kept[at->second].weight < weight) kept[at->second] = {term, weight, {}};
    }
    for (auto& entry : kept) entry.order = unicode::composed(entry.term);
    std::ranges::stable_sort(kept, [](const Kept& a, const Kept& b) {
        return a.weight != b.weight ? a.weight > b.weight : a.order < b.order;
    });
    std::vector<std::string> terms;
    for (std::size_t i = 0; i < kept.size() && i < maxTerms; ++i) terms.push_back(std::move(kept[i].term));
    return terms;
}

// Read at the first ranking, once: one word a line, lower-cased; a missing or non-UTF-8 list
// drops nothing.
bool Vocabulary::isDictionaryWord(std::string_view term) {
    std::call_once(dictionaryRead_, [this] {
        constexpr std::uintmax_t largestList = 64 * 1024 * 1024;
        const auto text = readRegularFile(dictionaryFile_, largestList);
        if (!text || !unicode::isValidUtf8(*text)) return;
        std::string_view rest(*text);
        while (!rest.empty()) {
            const auto end = rest.find('\n');
            const std::string_view line = rest.substr(0, end);
            if (!line.empty()) dictionary_.insert(unicode::composed(unicode::lower(line)));
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        }
    });
    return dictionary_.contains(unicode::composed(term));
}

}  // namespace quib
