#pragma once

#include <atspi/atspi.h>

#include <utility>

namespace quib {

// One reference to an AT-SPI object (an accessible, or one of its interfaces), dropped when
// this goes. Dropping it may run libatspi code: only the AT-SPI thread holds these.
template <class T>
class AtspiObject {
public:
    AtspiObject() = default;
    // Takes over a reference the caller owns.
    explicit AtspiObject(T* owned) : object_(owned) {}
    ~AtspiObject() { reset(); }
    AtspiObject(AtspiObject&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    AtspiObject& operator=(AtspiObject&& other) noexcept {
        if (this != &other) {
            reset();
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    AtspiObject(const AtspiObject&) = delete;
    AtspiObject& operator=(const AtspiObject&) = delete;

    T* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // Hands the reference to the caller.
    T* release() { return std::exchange(object_, nullptr); }

private:
    void reset() {
        if (object_) g_object_unref(object_);
        object_ = nullptr;
    }

    T* object_ = nullptr;
};

using AtspiNode = AtspiObject<AtspiAccessible>;

}  // namespace quib
