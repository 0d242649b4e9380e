#include "Platform/Linux/X11/X11SelectionReader.hpp"

#include <algorithm>
#include <cstring>

#include "Runtime/Logger.hpp"

namespace quib {
namespace {

// A target list longer than this is not a real one.
constexpr std::size_t targetListLimit = 64 * 1024;

X11SelectionReader::SteadyTime earlier(X11SelectionReader::SteadyTime deadline, std::chrono::milliseconds limit) {
    return std::min(deadline, std::chrono::steady_clock::now() + limit);
}

std::uint32_t firstUnit(const Bytes& bytes) {
    std::uint32_t unit = 0;
    if (bytes.size() >= 4) std::memcpy(&unit, bytes.data(), 4);
    return unit;
}

}  // namespace

X11SelectionReader::X11SelectionReader(Display* display, Window window, const X11ClipboardAtoms& atoms, Wait wait,
                                       std::size_t totalLimit)
    : display_(display), window_(window), atoms_(atoms), wait_(std::move(wait)), totalLimit_(totalLimit) {}

// The text and image targets are read first, so that they are kept when the owner is slow;
// the result keeps the owner's order all the same.
std::vector<X11SelectionReader::Read> X11SelectionReader::readAll(Time time, SteadyTime deadline) {
    room_ = totalLimit_;
    overflowed_ = false;
    const auto list = convert(atoms_.targets, time, deadline);
    if (!list || list->oversized || list->format != 32 || list->bytes.size() > targetListLimit) return {};
    const std::vector<Atom> offered = targetsOf(*list);
    const std::vector<std::string> names = namesOf(offered);
    std::vector<std::pair<std::size_t, X11Properties::Value>> values;
    for (const auto& name : X11ClipboardTypes::readingOrder(names)) {
        if (name.empty()) continue;
        if (std::chrono::steady_clock::now() >= deadline) break;
        const auto index = static_cast<std::size_t>(std::ranges::find(names, name) - names.begin());
        auto value = convert(offered[index], time, deadline);
        if (overflowed_) return {};
        if (!value || value->oversized) continue;
        room_ -= value->bytes.size();
        values.emplace_back(index, std::move(*value));
    }
    std::ranges::sort(values, {}, &std::pair<std::size_t, X11Properties::Value>::first);
    std::vector<Atom> types;
    for (const auto& [index, value] : values) types.push_back(value.type);
    const std::vector<std::string> typeNames = namesOf(types);
    std::vector<Read> reads;
    for (std::size_t i = 0; i < values.size(); ++i) {
        auto& [index, value] = values[i];
        if (typeNames[i].empty()) continue;
        reads.push_back({names[index], {typeNames[i], value.format}, std::move(value.bytes)});
    }
    return reads;
}

std::optional<X11Properties::Value> X11SelectionReader::convert(Atom target, Time time, SteadyTime deadline) {
    const Atom property = replyProperty();
    XDeleteProperty(display_, window_, property);
    awaited_ = target;
    answer_.reset();
    XConvertSelection(display_, atoms_.clipboard, target, property, window_, time);
    XFlush(display_);
    const bool answered = wait_([this] { return answer_.has_value(); }, earlier(deadline, targetLimit));
    awaited_.reset();
    if (!answered) {
        abandon();
        return std::nullopt;
    }
    if (*answer_ == None) return std::nullopt;
    auto value = X11Properties::read(display_, window_, property, sizeLimit, true);
    if (!value) return value;
    if (value->type == atoms_.incr) return receivePieces(property, *value, deadline);
    if (value->bytes.size() <= room_) return value;
    overflow();
    return std::nullopt;
}

// Deleting the announcement asks for the first piece, and deleting each piece for the next;
// an empty piece ends the answer. Reading the announcement deleted it already: the owner may
// have written the first piece by now, so deleting the property again would throw that piece
// away. The announced size is a lower bound: an answer that falls short of it lost a piece.
std::optional<X11Properties::Value> X11SelectionReader::receivePieces(Atom property,
                                                                      const X11Properties::Value& announced,
                                                                      SteadyTime deadline) {
    const std::uint32_t least = firstUnit(announced.bytes);
    if (least > sizeLimit) {
        abandon();
        return std::nullopt;
    }
    if (least > room_) {
        overflow();
        abandon();
        return std::nullopt;
    }
    pieceArrived_ = false;
    std::optional<X11Properties::Value> whole;
    for (;;) {
        if (!wait_([this] { return pieceArrived_; }, earlier(deadline, targetLimit))) break;
        pieceArrived_ = false;
        const std::size_t room = sizeLimit - (whole ? whole->bytes.size() : 0);
        auto piece = X11Properties::read(display_, window_, property, room, true);
        XFlush(display_);
        if (!piece) continue;
        if (piece->oversized) break;
        if (!whole) whole = X11Properties::Value{piece->type, piece->format, {}, false};
        if (piece->bytes.empty()) {
            if (whole->bytes.size() < least) break;
            return whole;
        }
        whole->bytes.insert(whole->bytes.end(), piece->bytes.begin(), piece->bytes.end());
        if (whole->bytes.size() > room_) {
            overflow();
            break;
        }
    }
    abandon();
    return std::nullopt;
}

// The owner may call the list's type ATOM or TARGETS; either way it is 32-bit atoms.
std::vector<Atom> X11SelectionReader::targetsOf(const X11Properties::Value& list) const {
    std::vector<Atom> atoms;
    for (std::size_t offset = 0; offset + 4 <= list.bytes.size(); offset += 4) {
        std::uint32_t unit = 0;
        std::memcpy(&unit, list.bytes.data() + offset, 4);
        if (unit != None) atoms.push_back(unit);
    }
    return atoms;
}

// One round trip; an atom the server does not know is named "".
std::vector<std::string> X11SelectionReader::namesOf(const std::vector<Atom>& atoms) const {
    std::vector<std::string> names(atoms.size());
    if (atoms.empty()) return names;
    std::vector<char*> raw(atoms.size(), nullptr);
    XGetAtomNames(display_, const_cast<Atom*>(atoms.data()), static_cast<int>(atoms.size()), raw.data());
    for (std::size_t i = 0; i < atoms.size(); ++i) {
        if (!raw[i]) continue;
        names[i] = raw[i];
        XFree(raw[i]);
    }
    return names;
}

void X11SelectionReader::overflow() {
    if (!overflowed_) {
        quibLog().info("x11: the clipboard's owner offers more than ", totalLimit_, " bytes; none of it is kept");
    }
    overflowed_ = true;
}

void X11SelectionReader::abandon() { reply_ = (reply_ + 1) % atoms_.replies.size(); }

void X11SelectionReader::selectionNotified(const XSelectionEvent& event) {
    if (!awaited_ || event.requestor != window_ || event.selection != atoms_.clipboard) return;
    if (event.target != *awaited_) return;
    // An answer in another property is a late one to a reading given up.
    if (event.property != None && event.property != replyProperty()) return;
    answer_ = event.property;
}

void X11SelectionReader::propertyChanged(const XPropertyEvent& event) {
    if (event.window == window_ && event.atom == replyProperty() && event.state == PropertyNewValue) {
        pieceArrived_ = true;
    }
}

}  // namespace quib
