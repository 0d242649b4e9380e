// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include "Tests/Support/X11/StubClipboardOwner.hpp"

#include <X11/Xatom.h>

#include <algorithm>

namespace quib::testing {

std::unique_ptr<StubClipboardOwner> StubClipboardOwner::start(const std::string& display,
                                                              std::vector<std::string> targets,
                                                              std::map<std::string, Bytes> answers,
                                                              std::size_t pieceSize, bool announcesSize) {
    auto owner = std::make_unique<StubClipboardOwner>(Passkey{});
    owner->targets_ = std::move(targets);
    owner->answers_ = std::move(answers);
    owner->pieceSize_ = pieceSize;
    owner->announcesSize_ = announcesSize;
    StubClipboardOwner* self = owner.get();
    owner->watcher_ = X11EventWatcher::start({
        .displayName = display,
        .label = "test.clipboard",
        .setup =
            [](Display* d) {
                const Window window = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
                const Atom clipboard = XInternAtom(d, "CLIPBOARD", False);
                XSetSelectionOwner(d, clipboard, window, CurrentTime);
                return XGetSelectionOwner(d, clipboard) == window;
            },
        .handle =
            [self](Display* d, XEvent& event) {
                if (event.type == SelectionRequest) self->serve(d, event.xselectionrequest);
                if (event.type == PropertyNotify && event.xproperty.state == PropertyDelete) {
                    self->sendPiece(d, event.xproperty);
                }
            },
        .gone = {},
    });
    if (!owner->watcher_) {
        ADD_FAILURE() << "the stub owner could not take the clipboard of " << display;
        return nullptr;
    }
    return owner;
}

StubClipboardOwner::~StubClipboardOwner() = default;

void StubClipboardOwner::serve(Display* display, const XSelectionRequestEvent& request) {
    char* name = XGetAtomName(display, request.target);
    const std::string target = name ? name : "";
    if (name) XFree(name);
    XEvent reply{};
    reply.xselection = {
        SelectionNotify,  0,           True, display, request.requestor, request.selection, request.target,
        request.property, request.time};
    if (target == "TARGETS") {
        std::vector<Atom> atoms(targets_.size() + 1, None);
        atoms[0] = request.target;
        for (std::size_t i = 0; i < targets_.size(); ++i)
            atoms[i + 1] = XInternAtom(display, targets_[i].c_str(), False);
        XChangeProperty(display, request.requestor, request.property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(atoms.data()), static_cast<int>(atoms.size()));
    } else if (const auto answer = answers_.find(target);
               answer != answers_.end() && pieceSize_ != 0 && answer->second.size() > pieceSize_) {
        startTransfer(display, request, answer->second);
    } else if (answer != answers_.end()) {
        XChangeProperty(display, request.requestor, request.property, request.target, 8, PropModeReplace,
                        answer->second.data(), static_cast<int>(answer->second.size()));
    } else {
        return;  // never answered
    }
    XSendEvent(display, request.requestor, False, NoEventMask, &reply);
    XFlush(display);
}

void StubClipboardOwner::startTransfer(Display* display, const XSelectionRequestEvent& request, const Bytes& bytes) {
    XSelectInput(display, request.requestor, PropertyChangeMask);
    const long size = announcesSize_ ? static_cast<long>(bytes.size()) : 0;
    XChangeProperty(display, request.requestor, request.property, XInternAtom(display, "INCR", False), 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&size), 1);
    transfers_.push_back({request.requestor, request.property, request.target, &bytes, 0});
}

// The closing empty piece ends the transfer.
void StubClipboardOwner::sendPiece(Display* display, const XPropertyEvent& event) {
    const auto transfer = std::ranges::find_if(transfers_, [&](const Transfer& candidate) {
        return candidate.requestor == event.window && candidate.property == event.atom;
    });
    if (transfer == transfers_.end()) return;
    const std::size_t size = std::min(pieceSize_, transfer->bytes->size() - transfer->sent);
    XChangeProperty(display, transfer->requestor, transfer->property, transfer->type, 8, PropModeReplace,
                    transfer->bytes->data() + transfer->sent, static_cast<int>(size));
    XFlush(display);
    transfer->sent += size;
    if (size == 0) transfers_.erase(transfer);
}

}  // namespace quib::testing
