#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Linux/X11/X11EventWatcher.hpp"
#include "Runtime/Bytes.hpp"

namespace quib::testing {

// A client of the test's own that owns the clipboard of a display and lists `targets`, but
// answers only those it has bytes for: it never answers the others at all, as a hung app would.
// Answers larger than `pieceSize` (when not 0) go in pieces, each written the moment the
// requestor deletes the one before, as a quick app on an idle machine writes them; their
// announcement gives the whole size, or 0 (a lower bound all the same) when not `announcesSize`.
class StubClipboardOwner {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    // None (with a test failure) when it cannot take the clipboard.
    static std::unique_ptr<StubClipboardOwner> start(const std::string& display, std::vector<std::string> targets,
                                                     std::map<std::string, Bytes> answers, std::size_t pieceSize = 0,
                                                     bool announcesSize = true);

    explicit StubClipboardOwner(Passkey) {}
    ~StubClipboardOwner();

private:
    // An answer on its way in pieces.
    struct Transfer {
        Window requestor = None;
        Atom property = None;
        Atom type = None;
        const Bytes* bytes = nullptr;
        std::size_t sent = 0;
    };

    void serve(Display* display, const XSelectionRequestEvent& request);
    void startTransfer(Display* display, const XSelectionRequestEvent& request, const Bytes& bytes);
    void sendPiece(Display* display, const XPropertyEvent& event);

    std::vector<std::string> targets_;
    std::map<std::string, Bytes> answers_;
    std::size_t pieceSize_ = 0;
    bool announcesSize_ = true;
    std::vector<Transfer> transfers_;
    std::unique_ptr<X11EventWatcher> watcher_;
};

}  // namespace quib::testing
