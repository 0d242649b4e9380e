#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <X11/Xlib.h>

#include "Platform/Linux/X11/X11ClipboardAtoms.hpp"
#include "Platform/Linux/X11/X11ClipboardTypes.hpp"
#include "Platform/Linux/X11/X11Properties.hpp"

namespace quib {

// Reads everything another client holds on the clipboard: asks the owner for its targets, then
// for each target in turn, answers that come in pieces (INCR) included. An owner that does not
// answer a target in time costs that target only; what is not read by the overall deadline is
// left out, and so is a target too large to keep. An owner that offers more in all than one
// reading keeps is not read at all: what it holds would otherwise come back later in part.
//
// Used on the clipboard's own thread only, with its connection and window; the clipboard hands
// it the replies and property changes that concern it while it waits.
class X11SelectionReader {
public:
    using SteadyTime = std::chrono::steady_clock::time_point;
    // Waits until `done` holds or `deadline` passes, handling the connection's events meanwhile;
    // false when not done by then or the connection went away.
    using Wait = std::function<bool(const std::function<bool()>& done, SteadyTime deadline)>;

    // How long one target may take, counted afresh for each piece of an answer in pieces.
    static constexpr std::chrono::milliseconds targetLimit{500};
    // Larger targets are left out.
    static constexpr std::size_t sizeLimit = 32 * 1024 * 1024;
    // The most one reading keeps of all its targets together: room for an image in several
    // formats, or a long text in several encodings, each as large as a target may be.
    static constexpr std::size_t readLimit = 4 * sizeLimit;

    struct Read {
        std::string target;
        X11ClipboardTypes::Form form;
        Bytes bytes;
    };

    // A reading keeps at most `totalLimit` bytes.
    X11SelectionReader(Display* display, Window window, const X11ClipboardAtoms& atoms, Wait wait,
                       std::size_t totalLimit = readLimit);

    // The targets read, in the owner's order; requests carry server time `time`. None when the
    // owner offers more than the reading may keep.
    std::vector<Read> readAll(Time time, SteadyTime deadline);

    void selectionNotified(const XSelectionEvent& event);
    void propertyChanged(const XPropertyEvent& event);

private:
    std::optional<X11Properties::Value> convert(Atom target, Time time, SteadyTime deadline);
    std::optional<X11Properties::Value> receivePieces(Atom property, const X11Properties::Value& announced,
                                                      SteadyTime deadline);
    std::vector<Atom> targetsOf(const X11Properties::Value& list) const;
    std::vector<std::string> namesOf(const std::vector<Atom>& atoms) const;
    // Gives the current reply property up: a late answer may still land there.
    void abandon();
    Atom replyProperty() const { return atoms_.replies[reply_]; }
    // Marks the reading as over its limit; what it read is dropped.
    void overflow();

    Display* display_;
    Window window_;
    X11ClipboardAtoms atoms_;
    Wait wait_;
    std::size_t totalLimit_;
    // What the current reading may still keep, and whether an answer would not fit.
    std::size_t room_ = 0;
    bool overflowed_ = false;
    std::size_t reply_ = 0;
    // The target asked for, until its answer came: the property it is in, or None (refused).
    std::optional<Atom> awaited_;
    std::optional<Atom> answer_;
    // A new piece has been put in the reply property.
    bool pieceArrived_ = false;
};

}  // namespace quib
