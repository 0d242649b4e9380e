#include "Shared/PointerLineReader.hpp"

#include <array>
#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

namespace quib {

namespace {

using M = ClientMessage;

// What a payload label holds: one of the case's two numbers, or a value of its own type.
enum class Slot { first, second, button, phase, clickCount, scrollPhase };

struct Label {
    std::string_view name;
    Slot slot;
};

// A pointer case and its payload labels.
struct Shape {
    std::string_view name;
    std::array<Label, 3> labels;
    unsigned count;
};

constexpr std::array<Shape, 5> shapes{{
    {M::Move::name, {{{"dx", Slot::first}, {"dy", Slot::second}}}, 2},
    {M::Scroll::name, {{{"dx", Slot::first}, {"dy", Slot::second}}}, 2},
    {M::ScrollPhase::name, {{{"_0", Slot::scrollPhase}}}, 1},
    {M::PointAtPanel::name, {{{"x", Slot::first}, {"y", Slot::second}}}, 2},
    {M::Click::name, {{{"button", Slot::button}, {"phase", Slot::phase}, {"clickCount", Slot::clickCount}}}, 3},
}};

// The most the plain form of any pointer case holds, for the caller's limits.
constexpr std::size_t plainDepth = 2;
constexpr std::size_t plainMembers = 3;
constexpr std::size_t plainValues = 5;

// The payload values read so far.
struct Payload {
    std::array<double, 2> numbers{};
    std::int64_t clickCount = 0;
    MouseButton button{};
    ClickPhase phase{};
    ScrollGesturePhase scrollPhase{};
};

// Reads the tokens of the plain form off the front of the text. Every reader returns false
// (or nothing) for what it does not take whole; the line is then left to the full decode.
class Scanner {
public:
    explicit Scanner(std::string_view text) : at_(text.data()), end_(text.data() + text.size()) {}

    bool skip(char c) {
        blank();
        if (at_ == end_ || *at_ != c) return false;
        ++at_;
        return true;
    }

    bool atEnd() {
        blank();
        return at_ == end_;
    }

    // A string with no escape and no control character in it.
    std::optional<std::string_view> plainString() {
        if (!skip('"')) return std::nullopt;
        const char* start = at_;
        for (; at_ != end_ && *at_ != '"'; ++at_)
            if (*at_ == '\\' || static_cast<unsigned char>(*at_) < 0x20) return std::nullopt;
        if (at_ == end_) return std::nullopt;
        return std::string_view(start, static_cast<std::size_t>(at_++ - start));
    }

    template <NamedEnum E>
    std::optional<E> name() {
        auto text = plainString();
        return text ? enumFromName<E>(*text) : std::nullopt;
    }

    // A JSON number, to the double the full decode makes of it. Its text is correctly rounded,
    // like the parser's; but a whole number is read as an integer first, so "-0" is +0.
    std::optional<double> number() {
        const auto token = numberToken();
        if (!token) return std::nullopt;
        double value = 0;
        const auto [end, error] = std::from_chars(token->text.data(), token->text.data() + token->text.size(), value);
        if (error != std::errc() || end != token->text.data() + token->text.size()) return std::nullopt;
        if (token->whole && value == 0) value = 0;
        return value;
    }

    // A whole number written without fraction or exponent that fits 64 signed bits.
    std::optional<std::int64_t> wholeNumber() {
        const auto token = numberToken();
        constexpr std::size_t mostDigits = 19;  // 19 nines still fit 64 unsigned bits
        if (!token || !token->whole) return std::nullopt;
        const bool negative = token->text.front() == '-';
        const std::string_view digits = token->text.substr(negative ? 1 : 0);
        if (digits.size() > mostDigits) return std::nullopt;
        std::uint64_t magnitude = 0;
        for (char digit : digits) magnitude = magnitude * 10 + static_cast<std::uint64_t>(digit - '0');
        constexpr auto most = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
        if (magnitude > most + (negative ? 1 : 0)) return std::nullopt;
        return negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    }

private:
    struct NumberToken {
        std::string_view text;
        bool whole;  // no fraction and no exponent: the parser reads it as an integer
    };

    void blank() {
        while (at_ != end_ && (*at_ == ' ' || *at_ == '\t' || *at_ == '\n' || *at_ == '\r')) ++at_;
    }

    bool digit() const { return at_ != end_ && *at_ >= '0' && *at_ <= '9'; }

    bool digits() {
        if (!digit()) return false;
        while (digit()) ++at_;
        return true;
    }

    // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    std::optional<NumberToken> numberToken() {
        blank();
        const char* start = at_;
        if (at_ != end_ && *at_ == '-') ++at_;
        if (at_ != end_ && *at_ == '0') ++at_;
        else if (!digits()) return std::nullopt;
        bool whole = true;
        if (at_ != end_ && *at_ == '.') {
            ++at_;
            if (!digits()) return std::nullopt;
            whole = false;
        }
        if (at_ != end_ && (*at_ == 'e' || *at_ == 'E')) {
            ++at_;
            if (at_ != end_ && (*at_ == '+' || *at_ == '-')) ++at_;
            if (!digits()) return std::nullopt;
            whole = false;
        }
        return NumberToken{std::string_view(start, static_cast<std::size_t>(at_ - start)), whole};
    }

    const char* at_;
    const char* end_;
};

bool readValue(Scanner& scanner, Slot slot, Payload& payload) {
    auto take = [](auto value, auto& into) {
        if (value) into = *value;
        return value.has_value();
    };
    switch (slot) {
        case Slot::first: return take(scanner.number(), payload.numbers[0]);
        case Slot::second: return take(scanner.number(), payload.numbers[1]);
        case Slot::button: return take(scanner.name<MouseButton>(), payload.button);
        case Slot::phase: return take(scanner.name<ClickPhase>(), payload.phase);
        case Slot::clickCount: return take(scanner.wholeNumber(), payload.clickCount);
        case Slot::scrollPhase: return take(scanner.name<ScrollGesturePhase>(), payload.scrollPhase);
    }
    return false;
}

// The members of the case's object, each label once; the scanner stands after the '{'.
bool readPayload(Scanner& scanner, const Shape& shape, Payload& payload) {
    unsigned seen = 0;
    do {
        const auto key = scanner.plainString();
        if (!key) return false;
        unsigned i = 0;
        while (i < shape.count && shape.labels[i].name != *key) ++i;
        if (i == shape.count || (seen & (1u << i)) || !scanner.skip(':')) return false;
        if (!readValue(scanner, shape.labels[i].slot, payload)) return false;
        seen |= 1u << i;
    } while (scanner.skip(','));
    return seen == (1u << shape.count) - 1 && scanner.skip('}');
}

ClientMessage messageOf(const Shape& shape, const Payload& p) {
    if (shape.name == M::Move::name) return {M::Move{.dx = p.numbers[0], .dy = p.numbers[1]}};
    if (shape.name == M::Scroll::name) return {M::Scroll{.dx = p.numbers[0], .dy = p.numbers[1]}};
    if (shape.name == M::ScrollPhase::name) return {M::ScrollPhase{._0 = p.scrollPhase}};
    if (shape.name == M::PointAtPanel::name) return {M::PointAtPanel{.x = p.numbers[0], .y = p.numbers[1]}};
    return {M::Click{.button = p.button, .phase = p.phase, .clickCount = p.clickCount}};
}

}  // namespace

std::optional<ClientMessage> PointerLineReader::read(std::string_view text,
                                                     const BoundedJson::Limits& limits) noexcept {
    if (limits.maxDepth < plainDepth || limits.maxMembers < plainMembers || limits.maxValues < plainValues)
        return std::nullopt;
    Scanner scanner(text);
    if (!scanner.skip('{')) return std::nullopt;
    const auto name = scanner.plainString();
    if (!name) return std::nullopt;
    const Shape* shape = nullptr;
    for (const Shape& s : shapes)
        if (s.name == *name) shape = &s;
    Payload payload;
    if (!shape || !scanner.skip(':') || !scanner.skip('{') || !readPayload(scanner, *shape, payload))
        return std::nullopt;
    if (!scanner.skip('}') || !scanner.atEnd()) return std::nullopt;
    return messageOf(*shape, payload);
}

}  // namespace quib
