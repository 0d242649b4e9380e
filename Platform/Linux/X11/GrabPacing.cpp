#include "Platform/Linux/X11/GrabPacing.hpp"

#include <algorithm>

namespace quib {

MonoTime GrabPacing::nextLook(bool news) const {
    const MonoTime regular = lastLook_ + timing_.interval;
    if (!news || last_ == Look::heldBack) return regular;
    const MonoTime allowed =
        lastPicture_ ? std::clamp(*lastPicture_ + timing_.interval, lastLook_, regular) : lastLook_;
    if (!lastPicture_ || !firstChange_) return allowed;
    return std::max(allowed, std::min(lastChange_ + timing_.settle, *firstChange_ + timing_.settleCap));
}

void GrabPacing::looked(MonoTime at, Look look) {
    lastLook_ = at;
    last_ = look;
    if (look == Look::heldBack) return;
    if (look == Look::picture) lastPicture_ = at;
    firstChange_.reset();
}

void GrabPacing::changed(MonoTime at) {
    if (!firstChange_) firstChange_ = at;
    lastChange_ = at;
}

}  // namespace quib
