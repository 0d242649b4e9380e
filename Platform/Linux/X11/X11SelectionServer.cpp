#include "Platform/Linux/X11/X11SelectionServer.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#include "Platform/Linux/X11/X11Properties.hpp"

namespace quib {
namespace {

// More pairs than any client asks for at once.
constexpr std::size_t multipleLimit = 64 * 1024;

void writeUnits(Display* display, Window window, Atom property, Atom type, const std::vector<std::uint32_t>& units) {
    X11Properties::write(display, window, property, type, 32, reinterpret_cast<const std::uint8_t*>(units.data()),
                         units.size() * 4, PropModeReplace);
}

}  // namespace

X11SelectionServer::X11SelectionServer(Display* display, const X11ClipboardAtoms& atoms, std::size_t pieceSize)
    : display_(display), atoms_(atoms), pieceSize_(std::max<std::size_t>(pieceSize / 4 * 4, 4)) {}

// The names become atoms in one round trip.
void X11SelectionServer::hold(const std::vector<X11ClipboardTypes::Offer>& offers, Time since) {
    std::vector<char*> names;
    for (const auto& offer : offers) {
        names.push_back(const_cast<char*>(offer.target.c_str()));
        names.push_back(const_cast<char*>(offer.form.type.c_str()));
    }
    std::vector<Atom> atoms(names.size(), None);
    if (!names.empty()) XInternAtoms(display_, names.data(), static_cast<int>(names.size()), False, atoms.data());
    held_.clear();
    for (std::size_t i = 0; i < offers.size(); ++i) {
        held_.push_back({atoms[2 * i], atoms[2 * i + 1], offers[i].form.format, offers[i].bytes});
    }
    holding_ = true;
    since_ = since;
}

void X11SelectionServer::release() {
    holding_ = false;
    held_.clear();
}

// An obsolete requestor names no property: the answer then goes in the target's own name.
void X11SelectionServer::serve(const XSelectionRequestEvent& request) {
    const Atom property = request.property != None ? request.property : request.target;
    XEvent reply{};
    reply.xselection.type = SelectionNotify;
    reply.xselection.display = display_;
    reply.xselection.requestor = request.requestor;
    reply.xselection.selection = request.selection;
    reply.xselection.target = request.target;
    reply.xselection.time = request.time;
    reply.xselection.property = None;
    if (accepts(request) && answer(request.requestor, request.target, property, request.property != None)) {
        reply.xselection.property = property;
    }
    XSendEvent(display_, request.requestor, False, NoEventMask, &reply);
    XFlush(display_);
}

// A request made before we took the clipboard is for the owner before us.
bool X11SelectionServer::accepts(const XSelectionRequestEvent& request) const {
    if (!holding_ || request.selection != atoms_.clipboard) return false;
    return request.time == CurrentTime || !isEarlier(request.time, since_);
}

bool X11SelectionServer::answer(Window requestor, Atom target, Atom property, bool multipleAllowed) {
    if (target == atoms_.targets) {
        std::vector<std::uint32_t> targets{static_cast<std::uint32_t>(atoms_.targets),
                                           static_cast<std::uint32_t>(atoms_.timestamp),
                                           static_cast<std::uint32_t>(atoms_.multiple)};
        for (const auto& held : held_) targets.push_back(static_cast<std::uint32_t>(held.target));
        writeUnits(display_, requestor, property, atoms_.atom, targets);
        return true;
    }
    if (target == atoms_.timestamp) {
        writeUnits(display_, requestor, property, atoms_.integer, {static_cast<std::uint32_t>(since_)});
        return true;
    }
    if (target == atoms_.multiple) return multipleAllowed && answerMultiple(requestor, property);
    const auto held = std::ranges::find(held_, target, &Held::target);
    if (held == held_.end()) return false;
    send(requestor, property, *held);
    return true;
}

// The requestor's property lists (target, property) pairs; a pair we cannot answer gets None
// in place of its property, and the list goes back.
bool X11SelectionServer::answerMultiple(Window requestor, Atom property) {
    auto pairs = X11Properties::read(display_, requestor, property, multipleLimit, false);
    if (!pairs || pairs->oversized || pairs->format != 32) return false;
    std::vector<std::uint32_t> units(pairs->bytes.size() / 4);
    std::memcpy(units.data(), pairs->bytes.data(), units.size() * 4);
    for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
        if (units[i + 1] != None && !answer(requestor, units[i], units[i + 1], false)) units[i + 1] = None;
    }
    writeUnits(display_, requestor, property, pairs->type, units);
    return true;
}

void X11SelectionServer::send(Window requestor, Atom property, const Held& data) {
    if (data.bytes->size() > pieceSize_) return startTransfer(requestor, property, data);
    X11Properties::write(display_, requestor, property, data.type, data.format, data.bytes->data(), data.bytes->size(),
                         PropModeReplace);
}

// The INCR property announces the size; the requestor's deleting it asks for the first piece.
void X11SelectionServer::startTransfer(Window requestor, Atom property, const Held& data) {
    const auto same = std::ranges::find_if(transfers_, [&](const Transfer& transfer) {
        return transfer.requestor == requestor && transfer.property == property;
    });
    if (same != transfers_.end()) transfers_.erase(same);
    XSelectInput(display_, requestor, PropertyChangeMask);
    writeUnits(display_, requestor, property, atoms_.incr, {static_cast<std::uint32_t>(data.bytes->size())});
    transfers_.push_back({requestor, property, data, 0, std::chrono::steady_clock::now() + requestorLimit});
}

void X11SelectionServer::propertyChanged(const XPropertyEvent& event) {
    if (event.state != PropertyDelete) return;
    const auto transfer = std::ranges::find_if(transfers_, [&](const Transfer& candidate) {
        return candidate.requestor == event.window && candidate.property == event.atom;
    });
    if (transfer == transfers_.end()) return;
    if (sendPiece(*transfer)) transfer->deadline = std::chrono::steady_clock::now() + requestorLimit;
    else forget(transfer);
    XFlush(display_);
}

bool X11SelectionServer::sendPiece(Transfer& transfer) {
    const Bytes& bytes = *transfer.data.bytes;
    const std::size_t size = std::min(pieceSize_, bytes.size() - transfer.sent);
    X11Properties::write(display_, transfer.requestor, transfer.property, transfer.data.type, transfer.data.format,
                         bytes.data() + transfer.sent, size, PropModeReplace);
    transfer.sent += size;
    return size > 0;
}

// The requestor's window stops reporting to us once no piece is owed to it.
void X11SelectionServer::forget(std::vector<Transfer>::iterator transfer) {
    const Window requestor = transfer->requestor;
    transfers_.erase(transfer);
    if (std::ranges::find(transfers_, requestor, &Transfer::requestor) == transfers_.end()) {
        XSelectInput(display_, requestor, NoEventMask);
    }
}

std::optional<X11SelectionServer::SteadyTime> X11SelectionServer::nextDeadline() const {
    if (transfers_.empty()) return std::nullopt;
    return std::ranges::min(transfers_, {}, &Transfer::deadline).deadline;
}

void X11SelectionServer::expire(SteadyTime now) {
    for (auto transfer = transfers_.begin(); transfer != transfers_.end();) {
        if (transfer->deadline > now) {
            ++transfer;
            continue;
        }
        forget(transfer);
        transfer = transfers_.begin();
    }
}

}  // namespace quib
