#pragma once

#include <string>
#include <vector>

#include <X11/Xlib.h>

namespace quib {

// What an X server offers for capturing windows. Composite 0.2 or later (a window's contents as
// a pixmap of its own, obscured parts too), DAMAGE (which windows changed) and XFIXES (the
// cursor's image) are needed; MIT-SHM only makes reading pixels faster.
struct X11CaptureExtensions {
    int compositeMajor = -1;  // -1: no Composite
    int compositeMinor = -1;
    bool damage = false;
    bool xfixes = false;
    bool sharedMemory = false;  // MIT-SHM with shared pixmaps or images

    // Asks the server behind `display` (the caller holds its connection), and tells DAMAGE and
    // XFIXES the version this client speaks, which they need before serving a connection.
    static X11CaptureExtensions query(Display* display);

    bool hasComposite() const { return compositeMajor > 0 || (compositeMajor == 0 && compositeMinor >= 2); }
    // The needed extensions the server lacks, by name ("Composite 0.2", "DAMAGE", "XFIXES").
    std::vector<std::string> missing() const;
    bool canCapture() const { return missing().empty(); }
};

}  // namespace quib
