#include <cstdio>
#include <type_traits>
#include <variant>

#include "Platform/Logger.hpp"
#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Server/HostServerClient.hpp"
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

// A unit coordinate kept in 0...1; one that is not a number counts as 0.
double unitClamped(double value) { return value > 0 ? (value > 1 ? 1.0 : value) : 0.0; }

}  // namespace

void HostServer::handle(const std::string& line, const ClientPtr& client) {
    auto decoded = QuibCoder::decode<ClientMessage>(line);
    if (!decoded) {
        send(HostMessage{HostMessage::Error{"Unreadable message"}}, *client);
        return;
    }
    if (gate_ && !gate_(*decoded, *client)) return;
    dispatch(*decoded, client);
}

void HostServer::dispatch(ClientMessage& message, const ClientPtr& client) {
    std::visit(
        [&](auto& payload) {
            using Case = std::decay_t<decltype(payload)>;
            if constexpr (std::is_same_v<Case, ClientMessage::Hello>) {
                greet(payload._0, client);
            } else if constexpr (std::is_same_v<Case, ClientMessage::UploadHello>) {
                openUpload(payload._0, client);
            } else if constexpr (std::is_same_v<Case, ClientMessage::ViewHello>) {
                holdSideChannel(SideChannel::view, payload._0.deviceID, payload._0.deviceName, client);
            } else if constexpr (std::is_same_v<Case, ClientMessage::ListenHello>) {
                holdSideChannel(SideChannel::listen, payload._0.deviceID, payload._0.deviceName, client);
            } else if constexpr (std::is_same_v<Case, ClientMessage::StillHello>) {
                holdSideChannel(SideChannel::still, payload._0.deviceID, payload._0.deviceName, client);
            } else if constexpr (std::is_same_v<Case, ClientMessage::Ping>) {
                answerPing(payload, *client);
            } else if constexpr (std::is_same_v<Case, ClientMessage::Move>) {
                movePointer(payload);
            } else if constexpr (std::is_same_v<Case, ClientMessage::Scroll>) {
                quibLog().debug("scroll dx=", pub(fixed(payload.dx, 1)), " dy=", pub(fixed(payload.dy, 1)));
                neighbours_.injector->scroll(payload.dx, payload.dy);
            } else if constexpr (std::is_same_v<Case, ClientMessage::ScrollPhase>) {
                neighbours_.injector->scroll(payload._0);
            } else if constexpr (std::is_same_v<Case, ClientMessage::PointAtPanel>) {
                pointAtPanel(payload.x, payload.y);
            } else if constexpr (std::is_same_v<Case, ClientMessage::Click>) {
                clickButton(payload, *client);
            } else if constexpr (std::is_same_v<Case, ClientMessage::AddTarget>) {
                addTarget(std::move(payload._0), client);
            } else if constexpr (std::is_same_v<Case, ClientMessage::UpdateTarget>) {
                updateTarget(std::move(payload._0), client);
            } else if constexpr (std::is_same_v<Case, ClientMessage::AddTargets>) {
                addTargets(std::move(payload._0), client);
            } else if constexpr (std::is_same_v<Case, ClientMessage::RemoveTarget>) {
                removeTarget(payload.id, client);
            } else if constexpr (std::is_same_v<Case, ClientMessage::ReorderTargets>) {
                reorderTargets(std::move(payload.ids));
            } else if constexpr (std::is_same_v<Case, ClientMessage::RequestPanes>) {
                requestPanes(client);
            } else if constexpr (std::is_same_v<Case, ClientMessage::RequestRemoteAccess>) {
                sendRemoteAccess(client);
            }
            // Text, keys, focus, windows, catalog, menus and approvals are not served yet: their
            // messages pass the gate and are dropped here.
        },
        message.value);
}

// Pointer input goes to the injector at once, on this queue: it never waits behind deliveries.
void HostServer::movePointer(const ClientMessage::Move& move) {
    Instrumentation::shared().recordMoveArrival();
    neighbours_.injector->move(move.dx, move.dy);
    countMove();
}

// Logs the rate of pointer moves of all connections together, at most once a second. The
// window runs from the last report, so the first report after a pause shows a low rate.
void HostServer::countMove() {
    ++moveCount_;
    const MonoTime now = clock_->now();
    const double elapsed = std::chrono::duration<double>(now - moveWindowStart_).count();
    if (elapsed < 1.0) return;
    const std::string rate = fixed(static_cast<double>(moveCount_) / elapsed, 0);
    quibLog().info("pointer: ", pub(rate), " moves/s, accessibility=", accessibilityGranted());
    moveCount_ = 0;
    moveWindowStart_ = now;
}

// (x, y) is a spot of the mirrored window's picture in unit coordinates.
void HostServer::pointAtPanel(double x, double y) {
    const auto frame = neighbours_.streaming->pointableWindowFrame();
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
    const auto hostTime = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(uptime).count());
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
