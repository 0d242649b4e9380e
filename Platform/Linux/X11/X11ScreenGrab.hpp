#pragma once

#include <memory>

#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/RgbPicture.hpp"
#include "Runtime/Geometry.hpp"
#include "Runtime/Result.hpp"

namespace quib {

// One picture of part of the screen as it shows: the root window's pixels (what the compositor
// or the server put there, never the cursor, which the server draws apart), read through a
// shared-memory segment (MIT-SHM), or through the connection when the server has no MIT-SHM or
// cannot attach it. The root must be TrueColor of 24 or 32 bits (B, G, R in memory), as Xvfb's
// and every desktop's today are.
class X11ScreenGrab {
public:
    // A segment kept from one picture to the next on the same connection: made by the first
    // read that needs one, replaced only by a read too large for it. The server lets go of it
    // when that happens or when the connection closes.
    class Segment;
    struct SegmentDelete {
        void operator()(Segment* segment) const;
    };
    using KeptSegment = std::unique_ptr<Segment, SegmentDelete>;

    // `region` in pixels, clipped to the screen, scaled to `width` × `height`. Fails, in a
    // sentence, when nothing of it is on the screen, the pixels cannot be read, or the server
    // has gone. With `kept`, the read goes through the segment it holds (one is made there when
    // it holds none or too small a one); without, through one made for the read.
    static Result<RgbPicture> picture(X11Connection& connection, const Rect& region, int width, int height,
                                      bool sharedMemory = true, KeptSegment* kept = nullptr);
};

}  // namespace quib
