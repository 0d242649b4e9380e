#include "Platform/Linux/X11/GrabPacing.hpp"

#include <algorithm>

namespace quib {

MonoTime GrabPacing::nextLook(bool news) const {
    const MonoTime regular = lastLook_ + interval_;
    if (!news || last_ == Look::heldBack) return regular;
    return lastPicture_ ? std::clamp(*lastPicture_ + interval_, lastLook_, regular) : lastLook_;
}

void GrabPacing::looked(MonoTime at, Look look) {
    lastLook_ = at;
    last_ = look;
    if (look == Look::picture) lastPicture_ = at;
}

}  // namespace quib
