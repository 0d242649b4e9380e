#pragma once

#include <memory>
#include <optional>
#include <string>

#include "QuibHost/Panel/MenuActions.hpp"
#include "QuibHost/Panel/MenuViewModelSource.hpp"
#include "QuibHost/Panel/SettingsActions.hpp"
#include "Runtime/Executor.hpp"

namespace quib {

// The desktop interface as the process entry sees it: the Qt application on the X display the
// backends drive, its event loop as the main executor, and the panel in the tray or in a
// window. Nothing of Qt shows through, so a headless host, which never makes one, creates no Qt
// object at all.
class QtInterface {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    // The application's window class: the host's own desktop ID.
    static constexpr std::string_view windowClass = "quib-host";

    // Main thread, once, before any other Qt object and after the X display has been opened
    // (so that Xlib is ready for threads): the application on that display ($DISPLAY), whatever
    // QT_QPA_PLATFORM says, and its main executor.
    static std::unique_ptr<QtInterface> start(const std::string& programName);
    explicit QtInterface(Passkey);
    // Closes, when `close` was not called.
    ~QtInterface();
    QtInterface(const QtInterface&) = delete;
    QtInterface& operator=(const QtInterface&) = delete;

    std::shared_ptr<Executor> executor() const;

    // Main thread: the panel of `source`, acting through `actions`, as a tray icon when the
    // desktop has a tray now, else as a window shown at once. The log says which.
    void showPanel(std::shared_ptr<MenuViewModelSource> source, std::shared_ptr<MenuActions> actions);
    // Main executor: the panel is brought up, beside the tray icon or as the window again.
    void bringUpPanel();

    // Main thread: the settings window, acting through `actions`, brought to the front; made anew
    // (with an empty selection) when none is open. With `select`, that row is selected.
    void showSettings(std::shared_ptr<SettingsActions> actions, const std::optional<std::string>& select);

    // Main thread: runs the event loop until `quit`.
    void exec();
    // Any thread: the event loop ends once it has run what was posted before.
    void quit();
    // Main thread, once the loop has ended, in this order: the executor closed (later posts are
    // dropped), the panel's and the settings window's widgets destroyed, then the application.
    void close();

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

}  // namespace quib
