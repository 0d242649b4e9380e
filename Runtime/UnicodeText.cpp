#include "Runtime/UnicodeText.hpp"

#include <unicode/brkiter.h>
#include <unicode/bytestream.h>
#include <unicode/coll.h>
#include <unicode/normalizer2.h>
#include <unicode/normlzr.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <memory>

#include "Runtime/AsciiText.hpp"

namespace quib::unicode {

namespace {

icu::UnicodeString fromUtf8(std::string_view utf8) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
}

std::string toUtf8String(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

}  // namespace

std::string upper(std::string_view utf8) { return toUtf8String(fromUtf8(utf8).toUpper(icu::Locale::getRoot())); }

bool isWhiteSpace(char32_t codePoint) {
    return u_hasBinaryProperty(static_cast<UChar32>(codePoint), UCHAR_WHITE_SPACE);
}

bool isNumeric(char32_t codePoint) {
    return u_getIntPropertyValue(static_cast<UChar32>(codePoint), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

bool isValidUtf8(std::string_view bytes) {
    const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
    const int32_t length = static_cast<int32_t>(bytes.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

std::string_view trimWhiteSpace(std::string_view utf8) {
    const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
    int32_t begin = 0;
    int32_t end = static_cast<int32_t>(utf8.size());
    while (begin < end) {
        int32_t next = begin;
        UChar32 c;
        U8_NEXT(s, next, end, c);
        if (c < 0 || !isWhiteSpace(static_cast<char32_t>(c))) break;
        begin = next;
    }
    while (end > begin) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV(s, begin, previous, c);
        if (c < 0 || !isWhiteSpace(static_cast<char32_t>(c))) break;
        end = previous;
    }
    return utf8.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}

std::size_t wordCount(std::string_view utf8) {
    const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
    const auto length = static_cast<int32_t>(utf8.size());
    std::size_t words = 0;
    bool inWord = false;
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        const bool separates = c >= 0 && isWhiteSpace(static_cast<char32_t>(c));
        if (!separates && !inWord) ++words;
        inWord = !separates;
    }
    return words;
}

bool isAlphanumeric(char32_t codePoint) {
    return (U_GET_GC_MASK(static_cast<UChar32>(codePoint)) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}

bool isLetter(char32_t codePoint) { return u_hasBinaryProperty(static_cast<UChar32>(codePoint), UCHAR_ALPHABETIC); }

bool isUppercase(char32_t codePoint) { return u_hasBinaryProperty(static_cast<UChar32>(codePoint), UCHAR_UPPERCASE); }

bool isLowercase(char32_t codePoint) { return u_hasBinaryProperty(static_cast<UChar32>(codePoint), UCHAR_LOWERCASE); }

bool isHexDigit(char32_t codePoint) { return u_hasBinaryProperty(static_cast<UChar32>(codePoint), UCHAR_HEX_DIGIT); }

char32_t firstCodePoint(std::string_view utf8) {
    if (utf8.empty()) return 0;
    const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
    int32_t i = 0;
    UChar32 c;
    U8_NEXT(s, i, static_cast<int32_t>(utf8.size()), c);
    return c < 0 ? U'\uFFFD' : static_cast<char32_t>(c);
}

namespace {

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

std::string lower(std::string_view utf8) {
    if (isAscii(utf8)) return ascii::lowered(utf8);
    return toUtf8String(fromUtf8(utf8).toLower(icu::Locale::getRoot()));
}

std::string composed(std::string_view utf8) {
    if (isAscii(utf8)) return std::string(utf8);
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) return std::string(utf8);
    const icu::StringPiece source(utf8.data(), static_cast<int32_t>(utf8.size()));
    if (nfc->isNormalizedUTF8(source, status) && U_SUCCESS(status)) return std::string(utf8);
    status = U_ZERO_ERROR;
    std::string out;
    icu::StringByteSink<std::string> sink(&out, static_cast<int32_t>(utf8.size()));
    nfc->normalizeUTF8(0, source, sink, nullptr, status);
    return U_SUCCESS(status) ? out : std::string(utf8);
}

void forEachGrapheme(std::string_view utf8, const std::function<void(std::string_view cluster)>& visit) {
    // ASCII text breaks between every two bytes except a CR followed by an LF.
    if (isAscii(utf8)) {
        for (std::size_t i = 0; i < utf8.size();) {
            const std::size_t length = utf8[i] == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n' ? 2 : 1;
            visit(utf8.substr(i, length));
            i += length;
        }
        return;
    }
    // Making an iterator is far dearer than a walk over a word, so each thread keeps one; a
    // walk started from inside another's `visit` makes its own.
    thread_local std::unique_ptr<icu::BreakIterator> kept;
    thread_local bool keptInUse = false;
    const bool nested = keptInUse;
    std::unique_ptr<icu::BreakIterator> own;
    std::unique_ptr<icu::BreakIterator>& iterator = nested ? own : kept;
    if (!iterator) {
        UErrorCode status = U_ZERO_ERROR;
        iterator.reset(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status) || !iterator) return;
    }
    keptInUse = true;
    struct Release {
        bool nested;
        ~Release() { keptInUse = nested; }
    } release{nested};
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UText, UText* (*)(UText*)> text(
        utext_openUTF8(nullptr, utf8.data(), static_cast<int64_t>(utf8.size()), &status), utext_close);
    iterator->setText(text.get(), status);
    if (U_FAILURE(status)) return;
    int32_t start = iterator->first();
    for (int32_t end = iterator->next(); end != icu::BreakIterator::DONE; start = end, end = iterator->next())
        visit(utf8.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
}

namespace {

// Calls `visit(begin, end)` with the UTF-16 offsets of each grapheme cluster until it returns false.
template <class Visit>
void forEachCluster(const icu::UnicodeString& text, Visit visit) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) return;
    it->setText(text);
    int32_t start = it->first();
    for (int32_t end = it->next(); end != icu::BreakIterator::DONE; start = end, end = it->next()) {
        if (!visit(start, end)) return;
    }
}

}  // namespace

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t order = icu::Normalizer::compare(fromUtf8(a), fromUtf8(b), U_COMPARE_IGNORE_CASE, status);
    return U_SUCCESS(status) && order == 0;
}

std::string prefixBytes(std::string_view utf8, std::size_t maxBytes) {
    if (utf8.size() <= maxBytes) return std::string(utf8);
    std::size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80) --cut;
    return std::string(utf8.substr(0, cut));
}

std::string caselessKey(std::string_view utf8) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status)) return std::string(utf8);
    icu::UnicodeString folded = nfd->normalize(fromUtf8(utf8), status);
    folded.foldCase();
    const icu::UnicodeString key = nfd->normalize(folded, status);
    return U_SUCCESS(status) ? toUtf8String(key) : std::string(utf8);
}

std::size_t graphemeCount(std::string_view utf8) {
    std::size_t count = 0;
    forEachCluster(fromUtf8(utf8), [&](int32_t, int32_t) {
        ++count;
        return true;
    });
    return count;
}

std::vector<std::string> graphemeClusters(std::string_view utf8) {
    const icu::UnicodeString text = fromUtf8(utf8);
    std::vector<std::string> out;
    forEachCluster(text, [&](int32_t start, int32_t end) {
        std::string cluster;
        text.tempSubStringBetween(start, end).toUTF8String(cluster);
        out.push_back(std::move(cluster));
        return true;
    });
    return out;
}

std::string prefixGraphemes(std::string_view utf8, std::size_t maxClusters) {
    const icu::UnicodeString text = fromUtf8(utf8);
    int32_t cut = 0;
    std::size_t count = 0;
    forEachCluster(text, [&](int32_t, int32_t end) {
        if (count == maxClusters) return false;
        ++count;
        cut = end;
        return true;
    });
    std::string out;
    text.tempSubString(0, cut).toUTF8String(out);
    return out;
}

std::u32string codePoints(std::string_view utf8) {
    std::u32string out;
    const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
    const int32_t length = static_cast<int32_t>(utf8.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        out += c < 0 ? U'\uFFFD' : static_cast<char32_t>(c);
    }
    return out;
}

std::string toUtf8(char32_t codePoint) {
    char buffer[4];
    int32_t length = 0;
    UBool error = false;
    U8_APPEND(reinterpret_cast<uint8_t*>(buffer), length, 4, static_cast<UChar32>(codePoint), error);
    if (error) return "\xEF\xBF\xBD";
    return std::string(buffer, static_cast<std::size_t>(length));
}

std::string sanitizeUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char32_t c : codePoints(bytes)) out += toUtf8(c);
    return out;
}

namespace {

// A collator of the current locale that ignores case, one per thread: making one is dear, and
// one collator must not be used by two threads at once. ICU reads "C" and "POSIX" as
// en_US_POSIX, whose rules sort every capital before every small letter; the root rules are
// used there instead.
icu::Collator* localCollator() {
    thread_local std::unique_ptr<icu::Collator> collator = [] {
        const icu::Locale& current = icu::Locale::getDefault();
        const bool posix = std::string_view(current.getVariant()) == "POSIX";
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> made(
            icu::Collator::createInstance(posix ? icu::Locale::getRoot() : current, status));
        if (U_FAILURE(status)) return std::unique_ptr<icu::Collator>();
        made->setStrength(icu::Collator::SECONDARY);
        return made;
    }();
    return collator.get();
}

}  // namespace

int compareLocalizedIgnoringCase(std::string_view a, std::string_view b) {
    icu::Collator* collator = localCollator();
    if (!collator) return a.compare(b);
    UErrorCode status = U_ZERO_ERROR;
    const auto order = collator->compareUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
                                             icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), status);
    if (U_FAILURE(status)) return a.compare(b);
    return order;
}

}  // namespace quib::unicode
