#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Linux/X11/X11ChangeCount.hpp"
#include "Platform/Linux/X11/X11ClipboardAtoms.hpp"
#include "Platform/Linux/X11/X11ClipboardTypes.hpp"
#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Linux/X11/X11SelectionReader.hpp"
#include "Platform/Linux/X11/X11SelectionServer.hpp"
#include "Platform/PasteboardItem.hpp"

namespace quib {

// The X CLIPBOARD selection as the host uses it, from a connection of its own with an unmapped
// window of its own: owning it with items of ours, reading what another client holds, giving it
// up, and counting its changes (see X11ChangeCount).
//
// Ownership is taken at a real server time, read from the notification of an empty append to a
// property of our window, and checked with the server afterwards.
//
// Everything here runs on one thread, which also hands the connection's events in (`pump`).
// Each request starts by catching up with the server (`catchUp`), so that whatever another
// client did before it is seen before it.
class X11Clipboard {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    using SteadyTime = std::chrono::steady_clock::time_point;
    // How long reading another owner's contents may take in all.
    static constexpr std::chrono::seconds snapshotLimit{2};
    // Answers up to this size go in one piece, when the server takes requests that large.
    static constexpr std::size_t pieceLimit = 256 * 1024;

    struct Setup {
        std::shared_ptr<X11Connection> connection;
        Window window = None;
        X11ClipboardAtoms atoms;
        std::optional<int> ownerEventBase;  // XFixes' first event; none without XFixes
        std::size_t pieceSize = pieceLimit;
        std::size_t readLimit = X11SelectionReader::readLimit;  // kept by one reading of another owner
    };

    // None when `displayName` (empty: $DISPLAY) does not open or the window cannot be made.
    // Reading another owner's contents keeps at most `readLimit` bytes (see X11SelectionReader).
    // `selection` is served in place of CLIPBOARD when given ("PRIMARY").
    static std::unique_ptr<X11Clipboard> open(const std::string& displayName,
                                              std::size_t readLimit = X11SelectionReader::readLimit,
                                              const char* selection = "CLIPBOARD");

    X11Clipboard(Passkey, Setup setup);
    // Destroys the window (giving the clipboard up) unless the server is gone.
    ~X11Clipboard();
    X11Clipboard(const X11Clipboard&) = delete;
    X11Clipboard& operator=(const X11Clipboard&) = delete;

    bool isGone() const { return connection_->isGone(); }
    bool hasOwnerNotices() const { return ownerEventBase_.has_value(); }

    // Handles every event already received and drops requestors that stalled; false once the
    // server is gone.
    bool pump();
    // A round trip, then `pump`: everything the server did before now has been handled.
    bool catchUp();
    // Sleeps until the server sent something (at once when events were already read), `wake` is
    // readable, or `limit` passes (none: no limit).
    void sleepUntilEvents(std::optional<std::chrono::milliseconds> limit, int wake);
    // When `pump` next has work without an event: a stalled requestor's time is up.
    std::optional<SteadyTime> nextDeadline() const { return server_.nextDeadline(); }

    std::int64_t changeCount() const { return count_.value(); }
    // What the clipboard holds now: our own items when we own it, else one item with each
    // target the owner answered in time, by target name; none when it has no owner, or when it
    // offers more than a reading keeps.
    std::vector<PasteboardItem> snapshot();
    // Owns the clipboard with `items`; with nothing to offer, gives it up (no owner).
    void write(const std::vector<PasteboardItem>& items);

private:
    void handle(XEvent& event);
    void handlePropertyChange(const XPropertyEvent& event);
    void selectionCleared(const XSelectionClearEvent& event);
    // Waits for `done`, handling events meanwhile; false when not done by `deadline`.
    bool waitFor(const std::function<bool()>& done, SteadyTime deadline);
    std::optional<Time> serverTime(SteadyTime deadline);
    std::vector<PasteboardItem> readOwner();
    void take(const std::vector<PasteboardItem>& items, const std::vector<X11ClipboardTypes::Offer>& offers);
    void giveUp();

    std::shared_ptr<X11Connection> connection_;
    Display* display_;
    Window window_;
    X11ClipboardAtoms atoms_;
    std::optional<int> ownerEventBase_;
    X11SelectionServer server_;
    X11SelectionReader reader_;
    X11ChangeCount count_;
    // What we own the clipboard with, as it was written.
    std::vector<PasteboardItem> held_;
    // The forms of the targets read from other owners, so that they go back as they came.
    X11ClipboardTypes::Forms forms_;
    // The time of the last append to our clock property, once it is reported.
    std::optional<Time> clockReading_;
};

}  // namespace quib
