// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include "Tests/Support/X11/SelectionRequestor.hpp"

#include <thread>

namespace quib::testing {

std::unique_ptr<SelectionRequestor> SelectionRequestor::open(const std::string& display) {
    auto window = OwnedWindow::open(
        display, [](Display* d) { return XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0); });
    if (!window) return nullptr;
    return std::make_unique<SelectionRequestor>(Passkey{}, std::move(*window));
}

SelectionRequestor::SelectionRequestor(Passkey, OwnedWindow window) : window_(std::move(window)) {}

Atom SelectionRequestor::atom(const std::string& name) {
    Atom atom = None;
    window_.use([&](Display* d) { atom = XInternAtom(d, name.c_str(), False); });
    return atom;
}

std::optional<Atom> SelectionRequestor::convert(const std::string& target, const std::string& property) {
    window_.use([&](Display* d) {
        XConvertSelection(d, XInternAtom(d, "CLIPBOARD", False), XInternAtom(d, target.c_str(), False),
                          XInternAtom(d, property.c_str(), False), window_.window(), CurrentTime);
        XFlush(d);
    });
    for (int attempt = 0; attempt < 200; ++attempt) {
        std::optional<Atom> answer;
        window_.use([&](Display* d) {
            XEvent event;
            if (XCheckTypedWindowEvent(d, window_.window(), SelectionNotify, &event))
                answer = event.xselection.property;
        });
        if (answer) return answer;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
}

std::optional<X11Properties::Value> SelectionRequestor::property(const std::string& name) {
    std::optional<X11Properties::Value> value;
    window_.use([&](Display* d) {
        value = X11Properties::read(d, window_.window(), XInternAtom(d, name.c_str(), False), 64 * 1024 * 1024, false);
    });
    return value;
}

void SelectionRequestor::setPairs(const std::string& property,
                                  const std::vector<std::pair<std::string, std::string>>& pairs) {
    window_.use([&](Display* d) {
        std::vector<Atom> atoms;
        for (const auto& [target, into] : pairs) {
            atoms.push_back(XInternAtom(d, target.c_str(), False));
            atoms.push_back(XInternAtom(d, into.c_str(), False));
        }
        XChangeProperty(d, window_.window(), XInternAtom(d, property.c_str(), False),
                        XInternAtom(d, "ATOM_PAIR", False), 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(atoms.data()), static_cast<int>(atoms.size()));
        XSync(d, False);
    });
}

}  // namespace quib::testing
