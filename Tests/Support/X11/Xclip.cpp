// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include "Tests/Support/X11/Xclip.hpp"

#include <csignal>
#include <fstream>
#include <thread>

#include "Platform/Linux/X11/X11Connection.hpp"

namespace quib::testing {
namespace {

using namespace std::chrono_literals;

Window clipboardOwner(X11Connection& connection) {
    Window owner = None;
    connection.use(
        [&](Display* display) { owner = XGetSelectionOwner(display, XInternAtom(display, "CLIPBOARD", False)); });
    return owner;
}

}  // namespace

std::unique_ptr<Xclip> Xclip::hold(const std::string& display, const Bytes& bytes, const std::string& target) {
    auto xclip = std::make_unique<Xclip>(Passkey{});
    const auto input = xclip->folder_.path / "input";
    std::ofstream(input, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    auto control = X11Connection::open(display);
    if (!control) {
        ADD_FAILURE() << "cannot open " << display;
        return nullptr;
    }
    const Window before = clipboardOwner(*control);
    // -quiet keeps it in the foreground, so that its process id is the one that serves.
    auto started =
        ChildProcess::start({"xclip", "-quiet", "-selection", "clipboard", "-t", target, "-i", input.string()},
                            {{"DISPLAY", display}}, xclip->folder_.path / "xclip.log");
    if (!started) {
        ADD_FAILURE() << "cannot start xclip";
        return nullptr;
    }
    xclip->process_.emplace(std::move(*started));
    for (int attempt = 0; attempt < 500; ++attempt) {
        const Window owner = clipboardOwner(*control);
        if (owner != None && owner != before) return xclip;
        std::this_thread::sleep_for(10ms);
    }
    ADD_FAILURE() << "xclip did not take the clipboard: " << fileContents(xclip->folder_.path / "xclip.log");
    return nullptr;
}

Xclip::~Xclip() {
    if (!process_) return;
    process_->signal(SIGTERM);
    (void)process_->wait(5s);
}

std::optional<Bytes> Xclip::read(const std::string& display, const std::string& target, const std::string& selection) {
    ScratchFolder folder("quib-xclip");
    const auto output = folder.path / "output";
    auto xclip = ChildProcess::start(
        {"sh", "-c", "exec xclip -o -selection \"$2\" -t \"$0\" >\"$1\"", target, output.string(), selection},
        {{"DISPLAY", display}}, folder.path / "xclip.log");
    if (!xclip) return std::nullopt;
    if (xclip->wait(10s) != 0) return std::nullopt;
    return bytesOf(fileContents(output));
}

std::optional<std::string> Xclip::readText(const std::string& display, const std::string& target,
                                           const std::string& selection) {
    auto bytes = read(display, target, selection);
    if (!bytes) return std::nullopt;
    return textOf(*bytes);
}

}  // namespace quib::testing
