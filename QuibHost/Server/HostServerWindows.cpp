// Pointing an app target at one of its windows, or back at its front window, and bringing a
// minimised window back. The target is looked up on the network queue and the roster raises the
// window on the injection queue; the pin and the active target change on the main executor, which
// then notes the change and replies. Work queued for later holds its client weakly.

#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Server/HostServerClient.hpp"

namespace quib {

namespace {

constexpr const char* unknownTarget = "Unknown target";

HostMessage toast(std::string text) { return HostMessage{HostMessage::Toast{std::move(text)}}; }
HostMessage error(std::string text) { return HostMessage{HostMessage::Error{std::move(text)}}; }

bool hasWindows(const QuibTarget& target) {
    return target.kind == QuibTarget::Kind::app && target.bundleID && !target.bundleID->empty();
}

// The target a window request names, when it is an app with windows; otherwise the phone is told
// why not (`notAnApp` for a target that is no app).
std::optional<QuibTarget> windowedTarget(TargetStoreService& targets, const std::string& targetID, const char* notAnApp,
                                         std::string& refusal) {
    auto target = targets.safeTarget(targetID);
    if (!target) refusal = unknownTarget;
    else if (!hasWindows(*target)) refusal = notAnApp;
    else return target;
    return std::nullopt;
}

}  // namespace

void HostServer::focusWindow(const std::string& targetID, std::optional<std::uint32_t> windowID,
                             const ClientPtr& client) {
    std::string refusal;
    auto target = windowedTarget(*neighbours_.targets, targetID, "Only an app can be pointed at a window", refusal);
    if (!target) {
        send(error(std::move(refusal)), *client);
        return;
    }
    onInjection([target = std::move(*target), windowID, to = ClientRef(client)](HostServer& server) {
        if (windowID) server.raiseWindow(target, *windowID, to);
        else server.unpinWindow(target, to);
    });
}

// The window named, else the one the target is pinned to.
void HostServer::openWindow(const std::string& targetID, std::optional<std::uint32_t> windowID,
                            const ClientPtr& client) {
    std::string refusal;
    auto target = windowedTarget(*neighbours_.targets, targetID, "Only an app has windows to open", refusal);
    if (!target) {
        send(error(std::move(refusal)), *client);
        return;
    }
    if (!windowID) windowID = target->pinnedWindowID;
    if (!windowID) {
        send(error(target->name + " isn't pointed at a window"), *client);
        return;
    }
    onInjection([target = std::move(*target), windowID = *windowID, to = ClientRef(client)](HostServer& server) {
        const auto opened = server.neighbours_.roster->open(windowID, *target.bundleID, target.name);
        if (!opened.raised) {
            server.reply(to, error(opened.text));
            return;
        }
        server.pinWindow(target, windowID, opened.text, "opened ", "Opened ", to);
    });
}

void HostServer::unpinWindow(const QuibTarget& target, const ClientRef& to) {
    onMain([target, to](HostServer& server) {
        server.neighbours_.targets->setPinnedWindow(std::nullopt, std::nullopt, target.id);
        server.neighbours_.targets->setActive(target.id);
        server.reply(to, toast(target.name + " follows its front window again"));
    });
}

// Injection queue. After a refusal the phone gets the app's windows to pick another from.
void HostServer::raiseWindow(const QuibTarget& target, std::uint32_t windowID, const ClientRef& to) {
    const auto raised = neighbours_.roster->raise(windowID, *target.bundleID, target.name, true);
    if (!raised.raised) {
        reply(to, error(raised.text));
        sendWindowList(target, target.id, to, false);
        return;
    }
    if (raised.frame) neighbours_.injector->follow(*raised.frame);
    pinWindow(target, windowID, raised.text, "", "Showing ", to);
}

// The activity line names the window by its title, else by its number; the toast by its title,
// else by the target's name.
void HostServer::pinWindow(const QuibTarget& target, std::uint32_t windowID, const std::string& title,
                           std::string_view notePrefix, std::string_view toastPrefix, const ClientRef& to) {
    onMain([target, windowID, title, notePrefix, toastPrefix, to](HostServer& server) {
        server.neighbours_.targets->setPinnedWindow(windowID, title, target.id);
        server.neighbours_.targets->setActive(target.id);
        const std::string shown = title.empty() ? "window " + std::to_string(windowID) : title;
        server.note(target.name + ": " + std::string(notePrefix) + shown);
        server.reply(to, toast(std::string(toastPrefix) + (title.empty() ? target.name : title)));
    });
}

}  // namespace quib
