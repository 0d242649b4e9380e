#include "Platform/Linux/X11/X11WindowGrab.hpp"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xdamage.h>

#include <algorithm>

#include "Platform/Linux/X11/X11CaptureExtensions.hpp"
#include "Platform/Linux/X11/X11ErrorTrap.hpp"
#include "Platform/Linux/X11/X11EventWait.hpp"

namespace quib {
namespace {

bool hasComposite(Display* display) {
    int eventBase = 0, errorBase = 0, major = 0, minor = 4;
    return XCompositeQueryExtension(display, &eventBase, &errorBase) &&
           XCompositeQueryVersion(display, &major, &minor) && (major > 0 || minor >= 2);
}

// Pixels of these visuals lie in memory as B, G, R and a byte that is unused or alpha.
bool isSupported(const XWindowAttributes& attributes) {
    const Visual* visual = attributes.visual;
    return visual && visual->c_class == TrueColor && visual->red_mask == 0xff0000 && visual->green_mask == 0xff00 &&
           visual->blue_mask == 0xff && (attributes.depth == 24 || attributes.depth == 32);
}

Error unsupportedVisual(int depth) { return fail("unsupported window visual (depth " + std::to_string(depth) + ")"); }

// How long a window's painting must have paused before it counts as done.
constexpr std::chrono::milliseconds quietSpell{15};

// A DAMAGE object on `window`, made before it is redirected so that the painting the redirection
// asks for is seen; 0 without DAMAGE or when the window is gone.
unsigned long watchDamage(Display* display, Window window, int& damageEvent) {
    int errorBase = 0;
    if (!X11CaptureExtensions::query(display).damage || !XDamageQueryExtension(display, &damageEvent, &errorBase))
        return 0;
    X11ErrorTrap trap(display);
    const unsigned long damage = XDamageCreate(display, window, XDamageReportNonEmpty);
    XSync(display, False);
    return trap.firstError() ? 0 : damage;
}

}  // namespace

// A System V segment the server writes pixels into, attached on both sides.
struct X11WindowGrab::Segment {
    XShmSegmentInfo info{};
    Segment() { info.shmaddr = static_cast<char*>(reinterpret_cast<void*>(-1)); }
    ~Segment() {
        if (info.shmaddr != reinterpret_cast<void*>(-1)) ::shmdt(info.shmaddr);
    }
};

// A header made for the segment frees only itself; an image read through the connection frees
// its pixels too.
void X11WindowGrab::ImageDelete::operator()(XImage* image) const { XDestroyImage(image); }

Result<std::unique_ptr<X11WindowGrab>> X11WindowGrab::open(std::shared_ptr<X11Connection> connection, Window window,
                                                           Options options) {
    auto grab = std::make_unique<X11WindowGrab>(Passkey{}, connection, window, options);
    Result<void> opened = fail("the X server closed the connection");
    unsigned long damage = 0;
    int damageEvent = 0;
    connection->use([&](Display* display) {
        XWindowAttributes attributes{};
        if (!hasComposite(display)) {
            opened = fail("the X display lacks the Composite extension");
        } else if (!XGetWindowAttributes(display, window, &attributes)) {
            opened = fail("the window has closed");
        } else if (!isSupported(attributes)) {
            opened = unsupportedVisual(attributes.depth);
        } else {
            grab->visual_ = attributes.visual;
            grab->depth_ = attributes.depth;
            if (options.settle.count() > 0) damage = watchDamage(display, window, damageEvent);
            XCompositeRedirectWindow(display, window, CompositeRedirectAutomatic);
            opened = grab->name(display);
        }
    });
    if (opened && damage) grab->settle(damage, damageEvent, options.settle);
    if (damage) {
        connection->use([&](Display* display) {
            X11ErrorTrap trap(display);
            XDamageDestroy(display, damage);
            (void)trap.firstError();
        });
    }
    if (!opened) return opened.error();
    return grab;
}

// A window in view shows all of itself at once and is let go after the limit at the latest; one
// that was covered is let go a quiet spell after its app painted it.
void X11WindowGrab::settle(unsigned long damage, int damageEvent, std::chrono::milliseconds limit) {
    using Steady = std::chrono::steady_clock;
    const auto deadline = Steady::now() + limit;
    bool painted = false;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Steady::now());
        if (left.count() <= 0) return;
        bool events = false;
        const bool alive = connection_->use([&](Display* display) {
            events = X11EventWait::forEvents(display, painted ? std::min(left, quietSpell) : left);
            while (XPending(display) > 0) {
                XEvent event;
                XNextEvent(display, &event);
                if (event.type == damageEvent + XDamageNotify) painted = true;
            }
            if (painted) XDamageSubtract(display, damage, None, None);
        });
        if (!alive || (painted && !events)) return;
    }
}

X11WindowGrab::X11WindowGrab(Passkey, std::shared_ptr<X11Connection> connection, Window window, Options options)
    : connection_(std::move(connection)), window_(window), options_(options) {}

// The window may be gone by now; its errors are the trap's, not the log's.
X11WindowGrab::~X11WindowGrab() {
    connection_->use([&](Display* display) {
        X11ErrorTrap trap(display);
        dropSegment(display);
        if (pixmap_ != None) XFreePixmap(display, pixmap_);
        if (visual_) XCompositeUnredirectWindow(display, window_, CompositeRedirectAutomatic);
        (void)trap.firstError();
    });
    image_.reset();
}

bool X11WindowGrab::usesSharedMemory() const { return segment_ != nullptr; }

Result<void> X11WindowGrab::rename() {
    Result<void> named = fail("the X server closed the connection");
    connection_->use([&](Display* display) { named = name(display); });
    return named;
}

// The pixmap's own size is the one to read within: the window may have changed size again
// since it was named.
Result<void> X11WindowGrab::name(Display* display) {
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window_, &attributes)) return fail("the window has closed");
    if (attributes.map_state != IsViewable) return fail(std::string(notShown));
    X11ErrorTrap trap(display);
    const Pixmap named = XCompositeNameWindowPixmap(display, window_);
    Window root = None;
    int x = 0, y = 0;
    unsigned int width = 0, height = 0, border = 0, depth = 0;
    const bool measured = XGetGeometry(display, named, &root, &x, &y, &width, &height, &border, &depth);
    if (trap.firstError() || !measured) {
        if (measured) XFreePixmap(display, named);
        return fail(std::string(notShown));
    }
    if (pixmap_ != None) XFreePixmap(display, pixmap_);
    pixmap_ = named;
    kept_.reset();
    border_ = attributes.border_width;
    const int newWidth = std::max(static_cast<int>(width) - 2 * border_, 1);
    const int newHeight = std::max(static_cast<int>(height) - 2 * border_, 1);
    if (newWidth != width_ || newHeight != height_ || !segment_) {
        width_ = newWidth;
        height_ = newHeight;
        dropSegment(display);
        makeSegment(display);
    }
    return {};
}

// Marked for removal once attached, so that the system frees it when both sides let go, even
// should the host die.
void X11WindowGrab::makeSegment(Display* display) {
    if (!options_.sharedMemory || !XShmQueryExtension(display)) return;
    const std::size_t size = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 4;
    auto segment = std::make_unique<Segment>();
    segment->info.shmid = ::shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (segment->info.shmid < 0) return;
    segment->info.shmaddr = static_cast<char*>(::shmat(segment->info.shmid, nullptr, 0));
    segment->info.readOnly = False;
    bool attached = false;
    if (segment->info.shmaddr != reinterpret_cast<void*>(-1)) {
        X11ErrorTrap trap(display);
        attached = XShmAttach(display, &segment->info) && !trap.firstError();
    }
    ::shmctl(segment->info.shmid, IPC_RMID, nullptr);
    if (attached) segment_ = std::move(segment);
}

void X11WindowGrab::dropSegment(Display* display) {
    image_.reset();
    kept_.reset();
    if (!segment_) return;
    XShmDetach(display, &segment_->info);
    XSync(display, False);  // the server lets go before the memory does
    segment_.reset();
}

std::optional<X11WindowGrab::Region> X11WindowGrab::clipped(Region region) const {
    const int right = std::min(region.x + region.width, width_), bottom = std::min(region.y + region.height, height_);
    region.x = std::max(region.x, 0);
    region.y = std::max(region.y, 0);
    region.width = right - region.x;
    region.height = bottom - region.y;
    if (region.width <= 0 || region.height <= 0) return std::nullopt;
    return region;
}

Result<X11WindowGrab::Image> X11WindowGrab::grab(Region region) {
    const auto part = clipped(region);
    if (!part) return fail("the region lies outside the window");
    Result<Image> image = fail("the X server closed the connection");
    connection_->use([&](Display* display) {
        image = segment_ ? grabShared(display, *part) : grabThroughConnection(display, *part);
    });
    return image;
}

bool X11WindowGrab::keeps(Region region) const { return kept_ && kept_ == clipped(region); }

Result<X11WindowGrab::Image> X11WindowGrab::regrab(Region region, std::span<const RowBands::Span> rows) {
    if (!keeps(region)) return grab(region);
    Result<Image> image = fail("the X server closed the connection");
    const Region part = *kept_;
    connection_->use([&](Display* display) { image = grabRows(display, part, rows); });
    return image;
}

Result<X11WindowGrab::Image> X11WindowGrab::grabShared(Display* display, const Region& region) {
    if (!image_ || image_->width != region.width || image_->height != region.height) {
        image_.reset(XShmCreateImage(display, visual_, static_cast<unsigned int>(depth_), ZPixmap,
                                     segment_->info.shmaddr, &segment_->info, static_cast<unsigned int>(region.width),
                                     static_cast<unsigned int>(region.height)));
        if (!image_) return fail("out of memory");
    }
    if (image_->bits_per_pixel != 32 || image_->byte_order != LSBFirst) return unsupportedVisual(depth_);
    kept_.reset();
    X11ErrorTrap trap(display);  // takes the error of a failed read, which the result shows
    if (!XShmGetImage(display, pixmap_, image_.get(), region.x + border_, region.y + border_, AllPlanes)) {
        return fail("the window's pixels cannot be read");
    }
    kept_ = region;
    return Image{reinterpret_cast<std::uint8_t*>(image_->data), image_->width, image_->height, image_->bytes_per_line};
}

// Each band is read into its own rows of the segment: a read as wide as the region writes rows as
// long as the region's.
Result<X11WindowGrab::Image> X11WindowGrab::grabRows(Display* display, const Region& region,
                                                     std::span<const RowBands::Span> rows) {
    X11ErrorTrap trap(display);
    for (const RowBands::Span& span : rows) {
        const int top = std::max(span.top, region.y), bottom = std::min(span.bottom, region.y + region.height);
        if (top >= bottom) continue;
        XImage band = *image_;
        band.data = image_->data + static_cast<std::ptrdiff_t>(top - region.y) * image_->bytes_per_line;
        band.height = bottom - top;
        if (!XShmGetImage(display, pixmap_, &band, region.x + border_, top + border_, AllPlanes)) {
            kept_.reset();
            return fail("the window's pixels cannot be read");
        }
    }
    return Image{reinterpret_cast<std::uint8_t*>(image_->data), image_->width, image_->height, image_->bytes_per_line};
}

Result<X11WindowGrab::Image> X11WindowGrab::grabThroughConnection(Display* display, const Region& region) {
    image_.reset();
    kept_.reset();
    X11ErrorTrap trap(display);
    image_.reset(XGetImage(display, pixmap_, region.x + border_, region.y + border_,
                           static_cast<unsigned int>(region.width), static_cast<unsigned int>(region.height), AllPlanes,
                           ZPixmap));
    if (!image_) return fail("the window's pixels cannot be read");
    if (image_->bits_per_pixel != 32 || image_->byte_order != LSBFirst) return unsupportedVisual(depth_);
    return Image{reinterpret_cast<std::uint8_t*>(image_->data), image_->width, image_->height, image_->bytes_per_line};
}

}  // namespace quib
