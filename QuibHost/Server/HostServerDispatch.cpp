#include <cstdio>
#include <type_traits>
#include <variant>

#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Server/HostServerClient.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/UnicodeText.hpp"
#include "Shared/Instrumentation.hpp"
#include "Shared/QuibCoder.hpp"

namespace quib {
namespace {

// A number with a fixed count of decimals, for log lines.
std::string fixed(double value, int decimals) {
    const int size = std::snprintf(nullptr, 0, "%.*f", decimals, value);
    if (size <= 0) return {};
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    std::snprintf(text.data(), text.size(), "%.*f", decimals, value);
    text.pop_back();
    return text;
}

// A device name from a hello, cut to its longest: it goes into log lines, the panel and the
// stored device list. Far longer names are cut by bytes first, so that only a short one is split
// into characters.
std::string cappedName(std::string name) {
    constexpr std::size_t longest = HostServer::longestDeviceName;
    if (name.size() <= longest) return name;
    if (name.size() > 16 * longest) name.resize(16 * longest);
    return unicode::prefixGraphemes(name, longest);
}

// A unit coordinate kept in 0...1; one that is not a number counts as 0.
double unitClamped(double value) { return value > 0 ? (value > 1 ? 1.0 : value) : 0.0; }

}  // namespace

// Every way out is timed, when timing samples are on: only the part on this queue is measured.
void HostServer::handle(const std::string& line, const ClientPtr& client) {
    Instrumentation& samples = Instrumentation::shared();
    const bool timed = samples.isEnabled();
    const std::uint64_t start = timed ? samples.uptimeNanos() : 0;
    auto decoded = QuibCoder::decode<ClientMessage>(line);
    if (!decoded) send(HostMessage{HostMessage::Error{"Unreadable message"}}, *client);
    else if (!gate_ || gate_(*decoded, *client)) dispatch(*decoded, client);
    if (timed) samples.record("0_decode_dispatch", start);
}

// The routing table: one case a message, in the order ClientMessage declares them. Work for
// another queue is handed on, never waited for.
void HostServer::dispatch(ClientMessage& message, const ClientPtr& client) {
    using M = ClientMessage;
    std::visit(
        [&](auto& payload) {
            using Case = std::decay_t<decltype(payload)>;
            if constexpr (std::is_same_v<Case, M::Hello> || std::is_same_v<Case, M::ViewHello> ||
                          std::is_same_v<Case, M::UploadHello> || std::is_same_v<Case, M::StillHello> ||
                          std::is_same_v<Case, M::ListenHello>)
                payload._0.deviceName = cappedName(std::move(payload._0.deviceName));
            if constexpr (std::is_same_v<Case, M::Hello>) greet(payload._0, client);
            else if constexpr (std::is_same_v<Case, M::Move>) movePointer(payload);
            else if constexpr (std::is_same_v<Case, M::Scroll>) scrollBy(payload.dx, payload.dy);
            else if constexpr (std::is_same_v<Case, M::ScrollPhase>) neighbours_.injector->scroll(payload._0);
            else if constexpr (std::is_same_v<Case, M::PointAtPanel>) pointAtPanel(payload.x, payload.y);
            else if constexpr (std::is_same_v<Case, M::Click>) clickButton(payload, *client);
            else if constexpr (std::is_same_v<Case, M::Text>) deliverText(std::move(payload._0), client);
            else if constexpr (std::is_same_v<Case, M::Focus>) focusTarget(payload.targetID, client);
            else if constexpr (std::is_same_v<Case, M::Key>) pressKey(std::move(payload._0), client);
            else if constexpr (std::is_same_v<Case, M::RequestVocabulary>) requestVocabulary(payload.targetID, client);
            else if constexpr (std::is_same_v<Case, M::AddTarget>) addTarget(std::move(payload._0), client);
            else if constexpr (std::is_same_v<Case, M::UpdateTarget>) updateTarget(std::move(payload._0), client);
            else if constexpr (std::is_same_v<Case, M::AddTargets>) addTargets(std::move(payload._0), client);
            else if constexpr (std::is_same_v<Case, M::RemoveTarget>) removeTarget(payload.id, client);
            else if constexpr (std::is_same_v<Case, M::ReorderTargets>) reorderTargets(std::move(payload.ids));
            else if constexpr (std::is_same_v<Case, M::RequestPanes>) requestPanes(client);
            else if constexpr (std::is_same_v<Case, M::RequestApps>) requestApps(payload.refresh, client);
            else if constexpr (std::is_same_v<Case, M::RequestWindows>) requestWindows(payload.targetID, client);
            else if constexpr (std::is_same_v<Case, M::FocusWindow>)
                focusWindow(payload.targetID, payload.windowID, client);
            else if constexpr (std::is_same_v<Case, M::OpenWindow>)
                openWindow(payload.targetID, payload.windowID, client);
            else if constexpr (std::is_same_v<Case, M::RequestAppIcons>)
                requestAppIcons(std::move(payload.bundleIDs), client);
            else if constexpr (std::is_same_v<Case, M::RequestMenu>)
                requestMenu(payload.bundleID, payload.refresh, client);
            else if constexpr (std::is_same_v<Case, M::AgentEvent>) agentEvent(std::move(payload._0), client);
            else if constexpr (std::is_same_v<Case, M::RequestApproval>) requestApproval(std::move(payload._0), client);
            else if constexpr (std::is_same_v<Case, M::ApprovalDecision>) decideApproval(std::move(payload), client);
            else if constexpr (std::is_same_v<Case, M::RequestPendingApprovals>) sendPendingApprovals(client);
            else if constexpr (std::is_same_v<Case, M::ViewHello>) openViewChannel(payload._0, client);
            else if constexpr (std::is_same_v<Case, M::UploadHello>) openUpload(payload._0, client);
            else if constexpr (std::is_same_v<Case, M::StillHello>) openStillChannel(payload._0, client);
            else if constexpr (std::is_same_v<Case, M::ListenHello>) openListenChannel(payload._0, client);
            else if constexpr (std::is_same_v<Case, M::Ping>) answerPing(payload, *client);
            else if constexpr (std::is_same_v<Case, M::RequestRemoteAccess>) sendRemoteAccess(client);
            else if constexpr (std::is_same_v<Case, M::RegisterPush>) registerPush(std::move(payload._0), client);
            else static_assert(sizeof(Case) == 0, "a message case without a route");
        },
        message.value);
}

// Pointer input goes to the injector at once, on this queue: it never waits behind deliveries.
void HostServer::movePointer(const ClientMessage::Move& move) {
    Instrumentation::shared().recordMoveArrival();
    neighbours_.injector->move(move.dx, move.dy);
    countMove();
}

// Logs the rate of pointer moves of all connections together, at most once a second.
void HostServer::countMove() {
    const auto rate = pointerRate_.count(clock_->now());
    if (!rate) return;
    quibLog().info("pointer: ", pub(fixed(*rate, 0)), " moves/s, accessibility=", accessibilityGranted());
}

void HostServer::scrollBy(double dx, double dy) {
    quibLog().debug("scroll dx=", pub(fixed(dx, 1)), " dy=", pub(fixed(dy, 1)));
    neighbours_.injector->scroll(dx, dy);
}

// (x, y) is a spot of the mirrored window's picture in unit coordinates.
void HostServer::pointAtPanel(double x, double y) {
    const auto frame = neighbours_.panelStreamer->pointableWindowFrame();
    if (!frame || !(frame->width > 0) || !(frame->height > 0)) return;
    neighbours_.injector->point({frame->x + unitClamped(x) * frame->width, frame->y + unitClamped(y) * frame->height});
}

// The connection remembers what it holds down, so that its end lets go of exactly that.
void HostServer::clickButton(const ClientMessage::Click& click, Client& client) {
    quibLog().info("click ", pub(enumName(click.button)), " ", pub(enumName(click.phase)),
                   " accessibility=", accessibilityGranted());
    if (click.phase == ClickPhase::down) client.heldButtons.insert(click.button);
    else client.heldButtons.erase(click.button);
    neighbours_.injector->click(click.button, click.phase, click.clickCount);
}

void HostServer::answerPing(const ClientMessage::Ping& ping, const Client& client) {
    const auto uptime = clock_->now().time_since_epoch();
    const auto hostTime =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(uptime).count());
    send(HostMessage{HostMessage::Pong{ping.nonce, hostTime}}, client);
}

void HostServer::send(const HostMessage& message, const Client& client, bool thenClose) {
    sendEncoded(QuibCoder::line(message), client, thenClose);
}

void HostServer::sendEncoded(Result<std::string> line, const Client& client, bool thenClose) {
    if (!line) {
        // Nothing to write, but a reply that was to close its connection still closes it, once
        // the replies before it are written.
        if (thenClose) client.connection->send(std::string(), true);
        return;
    }
    client.connection->send(std::move(*line), thenClose);
}

void HostServer::sendRaw(std::string bytes, const Client& client, bool thenClose) {
    client.connection->send(std::move(bytes), thenClose);
}

}  // namespace quib
