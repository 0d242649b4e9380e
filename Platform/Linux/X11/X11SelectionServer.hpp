#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include <X11/Xlib.h>

#include "Platform/Linux/X11/X11ClipboardAtoms.hpp"
#include "Platform/Linux/X11/X11ClipboardTypes.hpp"

namespace quib {

// Answers other clients' requests for the clipboard while we own it: the list of targets, the
// time we took it, several targets at once (MULTIPLE), and each target we hold. An answer larger
// than one request can carry goes in pieces (INCR), each sent when the requestor has taken the
// one before; a requestor that stops taking them is dropped after a while, and the others are
// not held up meanwhile. Pieces still owed when we lose the clipboard are sent all the same.
//
// Used on the clipboard's own thread only, with its connection.
class X11SelectionServer {
public:
    using SteadyTime = std::chrono::steady_clock::time_point;
    static constexpr std::chrono::seconds requestorLimit{5};

    // Answers larger than `pieceSize` bytes go in pieces of that size.
    X11SelectionServer(Display* display, const X11ClipboardAtoms& atoms, std::size_t pieceSize);

    // From now on answers with `offers`, for requests made at or after server time `since`.
    void hold(const std::vector<X11ClipboardTypes::Offer>& offers, Time since);
    // Answers nothing more (pieces still owed go on).
    void release();
    bool isHolding() const { return holding_; }
    // The server time we took the clipboard at.
    Time since() const { return since_; }

    void serve(const XSelectionRequestEvent& request);
    // A property change on another client's window: a requestor took a piece.
    void propertyChanged(const XPropertyEvent& event);

    // When the slowest requestor is due to be dropped; none while no pieces are owed.
    std::optional<SteadyTime> nextDeadline() const;
    // Drops the requestors that took no piece for too long by `now`.
    void expire(SteadyTime now);

    // Whether server time `time` comes before `than`. The server counts milliseconds in 32 bits,
    // which wrap about every 49.7 days: the earlier of two times is the one less than half that
    // range behind the other, so that a clipboard taken just before the wrap is still ours after.
    static bool isEarlier(Time time, Time than) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(time) - static_cast<std::uint32_t>(than)) < 0;
    }

private:
    struct Held {
        Atom target = None;
        Atom type = None;
        int format = 8;
        std::shared_ptr<const Bytes> bytes;
    };
    // An answer on its way in pieces.
    struct Transfer {
        Window requestor = None;
        Atom property = None;
        Held data;
        std::size_t sent = 0;
        SteadyTime deadline;
    };

    bool accepts(const XSelectionRequestEvent& request) const;
    bool answer(Window requestor, Atom target, Atom property, bool multipleAllowed);
    bool answerMultiple(Window requestor, Atom property);
    void send(Window requestor, Atom property, const Held& data);
    void startTransfer(Window requestor, Atom property, const Held& data);
    // Sends the next piece; false once the closing empty piece went.
    bool sendPiece(Transfer& transfer);
    void forget(std::vector<Transfer>::iterator transfer);

    Display* display_;
    X11ClipboardAtoms atoms_;
    std::size_t pieceSize_;
    bool holding_ = false;
    Time since_ = CurrentTime;
    std::vector<Held> held_;
    std::vector<Transfer> transfers_;
};

}  // namespace quib
