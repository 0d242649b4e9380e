#include "Platform/Linux/X11/X11ScreenGrab.hpp"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "Platform/Linux/Media/RgbScaler.hpp"
#include "Platform/Linux/X11/X11ErrorTrap.hpp"

namespace quib {
namespace {

struct Area {
    int x = 0, y = 0, width = 0, height = 0;
};

struct ImageDelete {
    void operator()(XImage* image) const { XDestroyImage(image); }
};
using Image = std::unique_ptr<XImage, ImageDelete>;

bool readable(const XImage& image) { return image.bits_per_pixel == 32 && image.byte_order == LSBFirst; }

}  // namespace

// A segment attached on both sides; marked for removal at once, so that the system frees it
// when both let go. `detach` lets the server go of it (with the connection held); a segment
// dropped without it is let go by the server when the connection closes.
class X11ScreenGrab::Segment {
public:
    Segment(Display* display, std::size_t size) : size_(size) {
        info_.shmid = ::shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
        if (info_.shmid < 0) return;
        info_.shmaddr = static_cast<char*>(::shmat(info_.shmid, nullptr, 0));
        ::shmctl(info_.shmid, IPC_RMID, nullptr);
        if (info_.shmaddr == reinterpret_cast<char*>(-1)) return;
        info_.readOnly = False;
        X11ErrorTrap trap(display);
        attached_ = XShmAttach(display, &info_) && !trap.firstError();
    }
    ~Segment() {
        if (info_.shmaddr && info_.shmaddr != reinterpret_cast<char*>(-1)) ::shmdt(info_.shmaddr);
    }
    Segment(const Segment&) = delete;
    Segment& operator=(const Segment&) = delete;
    void detach(Display* display) {
        if (!attached_) return;
        XShmDetach(display, &info_);
        XSync(display, False);
        attached_ = false;
    }
    bool attached() const { return attached_; }
    std::size_t size() const { return size_; }
    XShmSegmentInfo* info() { return &info_; }

private:
    XShmSegmentInfo info_{};
    std::size_t size_ = 0;
    bool attached_ = false;
};

void X11ScreenGrab::SegmentDelete::operator()(Segment* segment) const { delete segment; }

namespace {

Result<RgbPicture> scaled(const XImage& image, int width, int height) {
    if (!readable(image)) return fail("unsupported screen visual (depth " + std::to_string(image.depth) + ")");
    return RgbScaler::scale(reinterpret_cast<const std::uint8_t*>(image.data), image.width, image.height,
                            image.bytes_per_line, width, height);
}

// The kept segment when it is large enough; else a new one, kept in its place.
X11ScreenGrab::Segment* segmentFor(Display* display, std::size_t size, X11ScreenGrab::KeptSegment& kept) {
    if (kept && kept->attached() && kept->size() >= size) return kept.get();
    if (kept) kept->detach(display);
    kept = X11ScreenGrab::KeptSegment(std::make_unique<X11ScreenGrab::Segment>(display, size).release());
    return kept->attached() ? kept.get() : nullptr;
}

std::optional<Result<RgbPicture>> readShared(Display* display, const XWindowAttributes& root, const Area& area,
                                             int width, int height, X11ScreenGrab::KeptSegment& kept) {
    if (!XShmQueryExtension(display)) return std::nullopt;
    const std::size_t size = static_cast<std::size_t>(area.width) * static_cast<std::size_t>(area.height) * 4;
    X11ScreenGrab::Segment* segment = segmentFor(display, size, kept);
    if (!segment) return std::nullopt;
    Image image(XShmCreateImage(display, root.visual, static_cast<unsigned int>(root.depth), ZPixmap,
                                segment->info()->shmaddr, segment->info(), static_cast<unsigned int>(area.width),
                                static_cast<unsigned int>(area.height)));
    if (!image || static_cast<std::size_t>(image->bytes_per_line) * static_cast<std::size_t>(area.height) > size) {
        if (image) image->data = nullptr;
        return std::nullopt;
    }
    X11ErrorTrap trap(display);
    const bool read = XShmGetImage(display, root.root, image.get(), area.x, area.y, AllPlanes) && !trap.firstError();
    auto picture =
        read ? scaled(*image, width, height) : Result<RgbPicture>(fail("the screen's pixels cannot be read"));
    image->data = nullptr;  // the segment's, freed with it
    return picture;
}

Result<RgbPicture> readThroughConnection(Display* display, const XWindowAttributes& root, const Area& area, int width,
                                         int height) {
    X11ErrorTrap trap(display);
    Image image(XGetImage(display, root.root, area.x, area.y, static_cast<unsigned int>(area.width),
                          static_cast<unsigned int>(area.height), AllPlanes, ZPixmap));
    if (!image || trap.firstError()) return fail("the screen's pixels cannot be read");
    return scaled(*image, width, height);
}

}  // namespace

Result<RgbPicture> X11ScreenGrab::picture(X11Connection& connection, const Rect& region, int width, int height,
                                          bool sharedMemory, KeptSegment* kept) {
    Result<RgbPicture> picture = fail("the X server closed the connection");
    connection.use([&](Display* display) {
        XWindowAttributes root{};
        if (!XGetWindowAttributes(display, DefaultRootWindow(display), &root)) return;
        const int left = std::max(static_cast<int>(std::lround(region.minX())), 0);
        const int top = std::max(static_cast<int>(std::lround(region.minY())), 0);
        const int right = std::min(static_cast<int>(std::lround(region.maxX())), root.width);
        const int bottom = std::min(static_cast<int>(std::lround(region.maxY())), root.height);
        const Area area{left, top, right - left, bottom - top};
        if (area.width <= 0 || area.height <= 0) {
            picture = fail("the region lies outside the screen");
            return;
        }
        KeptSegment once;
        KeptSegment& segment = kept ? *kept : once;
        auto shared = sharedMemory ? readShared(display, root, area, width, height, segment) : std::nullopt;
        if (!kept && once) once->detach(display);
        picture = shared ? std::move(*shared) : readThroughConnection(display, root, area, width, height);
    });
    if (connection.isGone()) return fail("the X server closed the connection");
    return picture;
}

}  // namespace quib
