#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Linux/X11/X11Properties.hpp"
#include "Tests/Support/X11/OwnedWindow.hpp"

namespace quib::testing {

// A client of the test's own that asks the clipboard's owner for targets the way xclip cannot:
// several at once (MULTIPLE), or one it then never takes.
class SelectionRequestor {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    // None (with a test failure) when `display` does not open.
    static std::unique_ptr<SelectionRequestor> open(const std::string& display);

    SelectionRequestor(Passkey, OwnedWindow window);

    // Asks for `target` into `property` of our window: the property the answer names (None when
    // refused); none when no answer came within 2 s.
    std::optional<Atom> convert(const std::string& target, const std::string& property);
    // A property of our window, left in place.
    std::optional<X11Properties::Value> property(const std::string& name);
    // Puts (target, property) pairs on our window, as a MULTIPLE request's parameter.
    void setPairs(const std::string& property, const std::vector<std::pair<std::string, std::string>>& pairs);
    Atom atom(const std::string& name);

private:
    OwnedWindow window_;
};

}  // namespace quib::testing
