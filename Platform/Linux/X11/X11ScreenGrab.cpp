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

// A segment attached on both sides for one read; marked for removal at once, so that the system
// frees it when both let go.
class Segment {
public:
    Segment(Display* display, std::size_t size) : display_(display) {
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
        if (attached_) {
            XShmDetach(display_, &info_);
            XSync(display_, False);
        }
        if (info_.shmaddr && info_.shmaddr != reinterpret_cast<char*>(-1)) ::shmdt(info_.shmaddr);
    }
    Segment(const Segment&) = delete;
    Segment& operator=(const Segment&) = delete;
    bool attached() const { return attached_; }
    XShmSegmentInfo* info() { return &info_; }

private:
    Display* display_;
    XShmSegmentInfo info_{};
    bool attached_ = false;
};

Result<RgbPicture> scaled(const XImage& image, int width, int height) {
    if (!readable(image)) return fail("unsupported screen visual (depth " + std::to_string(image.depth) + ")");
    return RgbScaler::scale(reinterpret_cast<const std::uint8_t*>(image.data), image.width, image.height,
                            image.bytes_per_line, width, height);
}

std::optional<Result<RgbPicture>> readShared(Display* display, const XWindowAttributes& root, const Area& area,
                                             int width, int height) {
    if (!XShmQueryExtension(display)) return std::nullopt;
    Segment segment(display, static_cast<std::size_t>(area.width) * static_cast<std::size_t>(area.height) * 4);
    if (!segment.attached()) return std::nullopt;
    Image image(XShmCreateImage(display, root.visual, static_cast<unsigned int>(root.depth), ZPixmap,
                                segment.info()->shmaddr, segment.info(), static_cast<unsigned int>(area.width),
                                static_cast<unsigned int>(area.height)));
    if (!image || static_cast<std::size_t>(image->bytes_per_line) * static_cast<std::size_t>(area.height) >
                      static_cast<std::size_t>(area.width) * static_cast<std::size_t>(area.height) * 4) {
        return std::nullopt;
    }
    X11ErrorTrap trap(display);
    const bool read = XShmGetImage(display, root.root, image.get(), area.x, area.y, AllPlanes) && !trap.firstError();
    auto picture = read ? scaled(*image, width, height) : Result<RgbPicture>(fail("the screen's pixels cannot be read"));
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
                                          bool sharedMemory) {
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
        auto shared = sharedMemory ? readShared(display, root, area, width, height) : std::nullopt;
        picture = shared ? std::move(*shared) : readThroughConnection(display, root, area, width, height);
    });
    if (connection.isGone()) return fail("the X server closed the connection");
    return picture;
}

}  // namespace quib
