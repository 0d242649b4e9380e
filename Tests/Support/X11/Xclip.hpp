#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Runtime/Bytes.hpp"
#include "Tests/Support/ChildProcess.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib::testing {

// xclip as another app on a display: one that holds the clipboard, and one that reads it.
class Xclip {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    // An xclip that owns the clipboard of `display` with `bytes` as `target`, serving until it
    // is ended; none (with a test failure) when it does not own it within 5 s.
    static std::unique_ptr<Xclip> hold(const std::string& display, const Bytes& bytes,
                                       const std::string& target = "UTF8_STRING");
    // What `xclip -o` prints for `target` of `selection` ("clipboard" or "primary"); none when it
    // fails or takes over 10 s.
    static std::optional<Bytes> read(const std::string& display, const std::string& target = "UTF8_STRING",
                                     const std::string& selection = "clipboard");
    static std::optional<std::string> readText(const std::string& display, const std::string& target = "UTF8_STRING",
                                               const std::string& selection = "clipboard");

    explicit Xclip(Passkey) {}
    // Ended by its process id.
    ~Xclip();

private:
    ScratchFolder folder_{"quib-xclip"};
    std::optional<ChildProcess> process_;
};

}  // namespace quib::testing
