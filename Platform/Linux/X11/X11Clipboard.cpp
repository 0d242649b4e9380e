#include "Platform/Linux/X11/X11Clipboard.hpp"

#include <X11/Xatom.h>
#include <X11/extensions/Xfixes.h>

#include <algorithm>

#include "Platform/Linux/X11/X11EventWait.hpp"
#include "Runtime/Logger.hpp"

namespace quib {
namespace {

// How long the server may take to tell its time.
constexpr std::chrono::seconds clockLimit{1};

std::chrono::steady_clock::time_point now() { return std::chrono::steady_clock::now(); }

// XFixes must be told which version we speak before it takes any other request.
std::optional<int> watchOwners(Display* display, Window window, Atom clipboard) {
    int eventBase = 0, errorBase = 0;
    if (!XFixesQueryExtension(display, &eventBase, &errorBase)) return std::nullopt;
    int major = XFIXES_MAJOR, minor = XFIXES_MINOR;
    if (!XFixesQueryVersion(display, &major, &minor) || major < 1) return std::nullopt;
    XFixesSelectSelectionInput(display, window, clipboard,
                               XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask |
                                   XFixesSelectionClientCloseNotifyMask);
    return eventBase;
}

// The largest property change one request carries, less room for the request's own header.
std::size_t pieceSizeFor(Display* display) {
    long units = XExtendedMaxRequestSize(display);
    if (units <= 0) units = XMaxRequestSize(display);
    const auto bytes = static_cast<std::size_t>(units) * 4;
    return std::min(X11Clipboard::pieceLimit, bytes > 2048 ? bytes - 1024 : bytes / 2);
}

}  // namespace

std::unique_ptr<X11Clipboard> X11Clipboard::open(const std::string& displayName, std::size_t readLimit,
                                                 const char* selection) {
    Setup setup;
    setup.readLimit = readLimit;
    setup.connection = X11Connection::open(displayName);
    if (!setup.connection) return nullptr;
    Display* display = setup.connection->unlockedDisplay();
    setup.atoms = X11ClipboardAtoms::intern(display, selection);
    if (setup.atoms.clipboard == None) return nullptr;
    setup.window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(display, setup.window, PropertyChangeMask);
    setup.ownerEventBase = watchOwners(display, setup.window, setup.atoms.clipboard);
    if (!setup.ownerEventBase) quibLog().warning("x11: no XFixes; only our own losses of the clipboard are counted");
    setup.pieceSize = pieceSizeFor(display);
    XSync(display, False);
    if (setup.connection->isGone()) return nullptr;
    return std::make_unique<X11Clipboard>(Passkey{}, std::move(setup));
}

X11Clipboard::X11Clipboard(Passkey, Setup setup)
    : connection_(std::move(setup.connection)),
      display_(connection_->unlockedDisplay()),
      window_(setup.window),
      atoms_(setup.atoms),
      ownerEventBase_(setup.ownerEventBase),
      server_(display_, atoms_, setup.pieceSize),
      reader_(
          display_, window_, atoms_,
          [this](const std::function<bool()>& done, SteadyTime deadline) { return waitFor(done, deadline); },
          setup.readLimit),
      count_(window_, ownerEventBase_.has_value()) {}

X11Clipboard::~X11Clipboard() {
    if (isGone()) return;
    XDestroyWindow(display_, window_);
    XFlush(display_);
}

bool X11Clipboard::pump() {
    if (isGone()) return false;
    for (;;) {
        const int pending = XPending(display_);
        if (isGone()) return false;
        if (pending <= 0) break;
        XEvent event;
        XNextEvent(display_, &event);
        if (isGone()) return false;
        handle(event);
    }
    server_.expire(now());
    XFlush(display_);
    return !isGone();
}

void X11Clipboard::sleepUntilEvents(std::optional<std::chrono::milliseconds> limit, int wake) {
    if (!isGone()) X11EventWait::forEvents(display_, limit, wake);
}

bool X11Clipboard::catchUp() {
    XSync(display_, False);
    return !isGone() && pump();
}

void X11Clipboard::handle(XEvent& event) {
    switch (event.type) {
        case SelectionRequest: return server_.serve(event.xselectionrequest);
        case SelectionNotify: return reader_.selectionNotified(event.xselection);
        case SelectionClear: return selectionCleared(event.xselectionclear);
        case PropertyNotify: return handlePropertyChange(event.xproperty);
        default: break;
    }
    if (ownerEventBase_ && event.type == *ownerEventBase_ + XFixesSelectionNotify) {
        const auto& notice = reinterpret_cast<const XFixesSelectionNotifyEvent&>(event);
        if (notice.selection == atoms_.clipboard) {
            count_.ownerNotified(notice.subtype, notice.owner, notice.selection_timestamp);
        }
    }
}

void X11Clipboard::handlePropertyChange(const XPropertyEvent& event) {
    if (event.window != window_) return server_.propertyChanged(event);
    if (event.atom == atoms_.clock && event.state == PropertyNewValue) clockReading_ = event.time;
    else reader_.propertyChanged(event);
}

// A loss that predates our latest taking (its report was still on its way) leaves what we hold
// now alone; it still counts as a change where nothing else reports it.
void X11Clipboard::selectionCleared(const XSelectionClearEvent& event) {
    if (event.selection != atoms_.clipboard) return;
    count_.selectionCleared(event.time);
    if (server_.isHolding() && X11SelectionServer::isEarlier(event.time, server_.since())) return;
    server_.release();
    held_.clear();
}

bool X11Clipboard::waitFor(const std::function<bool()>& done, SteadyTime deadline) {
    for (;;) {
        if (!pump()) return false;
        if (done()) return true;
        const SteadyTime current = now();
        if (current >= deadline) return false;
        const SteadyTime until = std::min(deadline, nextDeadline().value_or(deadline));
        sleepUntilEvents(std::chrono::ceil<std::chrono::milliseconds>(until - current), -1);
    }
}

// An empty append changes nothing but still tells everyone interested, with the server's time.
std::optional<Time> X11Clipboard::serverTime(SteadyTime deadline) {
    clockReading_.reset();
    XChangeProperty(display_, window_, atoms_.clock, XA_STRING, 8, PropModeAppend, nullptr, 0);
    XFlush(display_);
    if (!waitFor([this] { return clockReading_.has_value(); }, deadline)) return std::nullopt;
    return clockReading_;
}

std::vector<PasteboardItem> X11Clipboard::snapshot() {
    if (server_.isHolding()) return held_;
    const Window owner = XGetSelectionOwner(display_, atoms_.clipboard);
    if (owner == None || owner == window_ || isGone()) return {};
    return readOwner();
}

std::vector<PasteboardItem> X11Clipboard::readOwner() {
    const SteadyTime deadline = now() + snapshotLimit;
    const auto time = serverTime(deadline);
    if (!time) return {};
    auto reads = reader_.readAll(*time, deadline);
    if (reads.empty()) return {};
    PasteboardItem item;
    for (auto& read : reads) {
        forms_[read.target] = read.form;
        item.set(read.target, std::move(read.bytes));
    }
    return {std::move(item)};
}

void X11Clipboard::write(const std::vector<PasteboardItem>& items) {
    const auto offers = X11ClipboardTypes::offers(items, forms_);
    if (offers.empty()) return giveUp();
    take(items, offers);
}

// The count moves once the server confirms the change, before the caller can read it.
void X11Clipboard::take(const std::vector<PasteboardItem>& items, const std::vector<X11ClipboardTypes::Offer>& offers) {
    const auto time = serverTime(now() + clockLimit);
    if (!time) return;
    XSetSelectionOwner(display_, atoms_.clipboard, window_, *time);
    if (XGetSelectionOwner(display_, atoms_.clipboard) != window_ || isGone()) {
        quibLog().error("x11: the server did not let us take the clipboard");
        return;
    }
    server_.hold(offers, *time);
    held_ = items;
    count_.ourChange();
}

void X11Clipboard::giveUp() {
    const auto time = serverTime(now() + clockLimit);
    if (!time) return;
    count_.givingUp(*time);
    XSetSelectionOwner(display_, atoms_.clipboard, None, *time);
    // Another client that took it meanwhile keeps it: that change is theirs, and counted as such.
    if (XGetSelectionOwner(display_, atoms_.clipboard) != None || isGone()) return;
    server_.release();
    held_.clear();
    count_.ourChange();
}

}  // namespace quib
