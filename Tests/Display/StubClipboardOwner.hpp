#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Bytes.hpp"
#include "Platform/Linux/X11EventWatcher.hpp"

namespace quib::testing {

// A client of the test's own that owns the clipboard of a display and lists `targets`, but
// answers only those it has bytes for: it never answers the others at all, as a hung app would.
class StubClipboardOwner {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    // None (with a test failure) when it cannot take the clipboard.
    static std::unique_ptr<StubClipboardOwner> start(const std::string& display, std::vector<std::string> targets,
                                                     std::map<std::string, Bytes> answers);

    explicit StubClipboardOwner(Passkey) {}
    ~StubClipboardOwner();

private:
    void serve(Display* display, const XSelectionRequestEvent& request);

    std::vector<std::string> targets_;
    std::map<std::string, Bytes> answers_;
    std::unique_ptr<X11EventWatcher> watcher_;
};

}  // namespace quib::testing
