#include "Shared/PointerLineReader.hpp"

#include <array>
#include <cstdint>
#include <limits>
#include <string>

namespace quib {

namespace {

using M = ClientMessage;

// The pointer cases and their payload labels, in the order the case struct lists them.
enum class Pointer { move, scroll, scrollPhase, pointAtPanel, click };

struct Shape {
    Pointer which;
    std::string_view name;
    std::array<std::string_view, 3> labels;
    std::size_t count;
};

constexpr std::array<Shape, 5> shapes{{
    {Pointer::move, M::Move::name, {"dx", "dy"}, 2},
    {Pointer::scroll, M::Scroll::name, {"dx", "dy"}, 2},
    {Pointer::scrollPhase, M::ScrollPhase::name, {"_0"}, 1},
    {Pointer::pointAtPanel, M::PointAtPanel::name, {"x", "y"}, 2},
    {Pointer::click, M::Click::name, {"button", "phase", "clickCount"}, 3},
}};

// The most the plain form of any pointer case holds, for the caller's limits.
constexpr std::size_t plainDepth = 2;
constexpr std::size_t plainMembers = 3;
constexpr std::size_t plainValues = 5;

// Parser events in; every event it cannot take returns false, which stops the parse.
class Handler {
public:
    bool null() { return false; }
    bool boolean(bool) { return false; }
    bool number_integer(Json::number_integer_t value) { return whole(value); }
    bool number_unsigned(Json::number_unsigned_t value) {
        if (isNumberLabel()) return number(static_cast<double>(value));
        if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
        return whole(static_cast<std::int64_t>(value));
    }
    // A fraction is taken only where the case wants a number; "1.0" for the click count is left
    // to the full decode.
    bool number_float(Json::number_float_t value, const Json::string_t&) { return isNumberLabel() && number(value); }
    bool string(Json::string_t& value);
    bool binary(Json::binary_t&) { return false; }

    bool start_object(std::size_t);
    bool key(Json::string_t& key);
    bool end_object();
    bool start_array(std::size_t) { return false; }
    bool end_array() { return false; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

    std::optional<ClientMessage> message() const;

private:
    // Every label of `move`, `scroll` and `pointAtPanel` wants a number.
    bool isNumberLabel() const {
        return depth_ == 2 && label_ != noLabel && shape_->which != Pointer::scrollPhase && shape_->which != Pointer::click;
    }
    bool whole(std::int64_t value);
    bool number(double value);
    bool taken() {
        seen_ |= 1u << label_;
        label_ = noLabel;
        return true;
    }

    static constexpr std::size_t noLabel = 3;

    const Shape* shape_ = nullptr;
    int depth_ = 0;
    std::size_t label_ = noLabel;  // the payload label whose value comes next
    unsigned seen_ = 0;            // a bit per payload label read
    bool payloadRead_ = false;
    bool finished_ = false;

    std::array<double, 2> numbers_{};
    std::int64_t clickCount_ = 0;
    MouseButton button_{};
    ClickPhase phase_{};
    ScrollGesturePhase scrollPhase_{};
};

bool Handler::start_object(std::size_t) {
    if (depth_ == 0 || (depth_ == 1 && shape_ && !payloadRead_)) {
        ++depth_;
        return true;
    }
    return false;
}

bool Handler::key(Json::string_t& key) {
    if (depth_ == 1) {
        if (shape_) return false;  // a second key at the top
        for (const Shape& shape : shapes)
            if (shape.name == key) shape_ = &shape;
        return shape_ != nullptr;
    }
    for (std::size_t i = 0; i < shape_->count; ++i) {
        if (shape_->labels[i] != key) continue;
        if (seen_ & (1u << i)) return false;
        label_ = i;
        return true;
    }
    return false;
}

bool Handler::end_object() {
    if (depth_ == 2) {
        if (seen_ != (1u << shape_->count) - 1) return false;
        payloadRead_ = true;
    } else if (depth_ == 1) {
        if (!payloadRead_) return false;
        finished_ = true;
    }
    --depth_;
    return true;
}

bool Handler::whole(std::int64_t value) {
    if (isNumberLabel()) return number(static_cast<double>(value));
    if (depth_ != 2 || shape_->which != Pointer::click || label_ != 2) return false;
    clickCount_ = value;
    return taken();
}

bool Handler::number(double value) {
    numbers_[label_] = value;
    return taken();
}

bool Handler::string(Json::string_t& value) {
    if (depth_ != 2 || label_ == noLabel) return false;
    bool known = false;
    if (shape_->which == Pointer::scrollPhase) {
        auto phase = enumFromName<ScrollGesturePhase>(value);
        if ((known = phase.has_value())) scrollPhase_ = *phase;
    } else if (shape_->which == Pointer::click && label_ == 0) {
        auto button = enumFromName<MouseButton>(value);
        if ((known = button.has_value())) button_ = *button;
    } else if (shape_->which == Pointer::click && label_ == 1) {
        auto phase = enumFromName<ClickPhase>(value);
        if ((known = phase.has_value())) phase_ = *phase;
    }
    return known && taken();
}

std::optional<ClientMessage> Handler::message() const {
    if (!finished_) return std::nullopt;
    switch (shape_->which) {
        case Pointer::move: return ClientMessage{M::Move{.dx = numbers_[0], .dy = numbers_[1]}};
        case Pointer::scroll: return ClientMessage{M::Scroll{.dx = numbers_[0], .dy = numbers_[1]}};
        case Pointer::scrollPhase: return ClientMessage{M::ScrollPhase{._0 = scrollPhase_}};
        case Pointer::pointAtPanel: return ClientMessage{M::PointAtPanel{.x = numbers_[0], .y = numbers_[1]}};
        case Pointer::click:
            return ClientMessage{M::Click{.button = button_, .phase = phase_, .clickCount = clickCount_}};
    }
    return std::nullopt;
}

}  // namespace

// The parser takes a NUL byte for the end of the text, and the full decode refuses text holding
// one: such text is left to it.
std::optional<ClientMessage> PointerLineReader::read(std::string_view text, const BoundedJson::Limits& limits) {
    if (limits.maxDepth < plainDepth || limits.maxMembers < plainMembers || limits.maxValues < plainValues) return std::nullopt;
    if (text.find('\0') != std::string_view::npos) return std::nullopt;
    Handler handler;
    if (!Json::sax_parse(text.begin(), text.end(), &handler)) return std::nullopt;
    return handler.message();
}

}  // namespace quib
