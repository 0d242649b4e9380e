#include <cstdio>
#include <tuple>
#include <type_traits>
#include <variant>

#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Server/HostServerClient.hpp"
#include "Runtime/AssertOn.hpp"
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
    assertOn(*network_);
    Instrumentation& samples = Instrumentation::shared();
    const bool timed = samples.isEnabled();
    const std::uint64_t start = timed ? samples.uptimeNanos() : 0;
    auto decoded = QuibCoder::decode<ClientMessage>(line);
    if (!decoded) send(HostMessage{HostMessage::Error{"Unreadable message"}}, *client);
    else if (!gate_ || gate_(*decoded, *client)) dispatch(*decoded, client);
    if (timed) samples.record("0_decode_dispatch", start);
}

namespace {

// Whether a message passes the gate before its connection's device is approved.
enum class Gating { beforeApproval, approvedOnly };

// One message case's route: whether it passes before approval, and what handles it.
template <class Case>
struct Route {
    using Message = Case;
    Gating admission;
    void (*go)(HostServer& server, Case& message, const HostServer::ClientPtr& client);
};

// How many rows of a table route `Case`.
template <class Case, class... Row>
constexpr int rowsFor = (0 + ... + int(std::is_same_v<typename Row::Message, Case>));

template <class Table, class Variant>
struct RoutesEachCaseOnce : std::false_type {};
template <class... Row, class... Case>
struct RoutesEachCaseOnce<std::tuple<Row...>, std::variant<Case...>>
    : std::bool_constant<sizeof...(Row) == sizeof...(Case) && ((rowsFor<Case, Row...> == 1) && ...)> {};

// A hello's device name is cut to its longest before anything reads it.
template <class Hello>
Hello& named(Hello& hello) {
    hello.deviceName = cappedName(std::move(hello.deviceName));
    return hello;
}

}  // namespace

// The routing table: one row a message case, in the order ClientMessage declares them; the gate
// and the dispatch both read it, so a case cannot be routed without being gated. Work for another
// queue is handed on, never waited for.
struct HostServer::Routes {
    using M = ClientMessage;
    static constexpr Gating open = Gating::beforeApproval;
    static constexpr Gating approved = Gating::approvedOnly;

    static constexpr auto table = std::tuple{
        Route<M::Hello>{open, [](auto& s, auto& m, auto& c) { s.greet(named(m._0), c); }},
        Route<M::Move>{approved, [](auto& s, auto& m, auto&) { s.movePointer(m); }},
        Route<M::Scroll>{approved, [](auto& s, auto& m, auto&) { s.scrollBy(m.dx, m.dy); }},
        Route<M::ScrollPhase>{approved, [](auto& s, auto& m, auto&) { s.neighbours_.injector->scroll(m._0); }},
        Route<M::PointAtPanel>{approved, [](auto& s, auto& m, auto&) { s.pointAtPanel(m.x, m.y); }},
        Route<M::Click>{approved, [](auto& s, auto& m, auto& c) { s.clickButton(m, *c); }},
        Route<M::Text>{approved, [](auto& s, auto& m, auto& c) { s.deliverText(std::move(m._0), c); }},
        Route<M::Focus>{approved, [](auto& s, auto& m, auto& c) { s.focusTarget(m.targetID, c); }},
        Route<M::Key>{approved, [](auto& s, auto& m, auto& c) { s.pressKey(std::move(m._0), c); }},
        Route<M::RequestVocabulary>{approved, [](auto& s, auto& m, auto& c) { s.requestVocabulary(m.targetID, c); }},
        Route<M::AddTarget>{approved, [](auto& s, auto& m, auto& c) { s.addTarget(std::move(m._0), c); }},
        Route<M::UpdateTarget>{approved, [](auto& s, auto& m, auto& c) { s.updateTarget(std::move(m._0), c); }},
        Route<M::AddTargets>{approved, [](auto& s, auto& m, auto& c) { s.addTargets(std::move(m._0), c); }},
        Route<M::RemoveTarget>{approved, [](auto& s, auto& m, auto& c) { s.removeTarget(m.id, c); }},
        Route<M::ReorderTargets>{approved, [](auto& s, auto& m, auto&) { s.reorderTargets(std::move(m.ids)); }},
        Route<M::RequestPanes>{approved, [](auto& s, auto&, auto& c) { s.requestPanes(c); }},
        Route<M::RequestApps>{approved, [](auto& s, auto& m, auto& c) { s.requestApps(m.refresh, c); }},
        Route<M::RequestWindows>{approved, [](auto& s, auto& m, auto& c) { s.requestWindows(m.targetID, c); }},
        Route<M::FocusWindow>{approved, [](auto& s, auto& m, auto& c) { s.focusWindow(m.targetID, m.windowID, c); }},
        Route<M::OpenWindow>{approved, [](auto& s, auto& m, auto& c) { s.openWindow(m.targetID, m.windowID, c); }},
        Route<M::RequestAppIcons>{approved,
                                  [](auto& s, auto& m, auto& c) { s.requestAppIcons(std::move(m.bundleIDs), c); }},
        Route<M::RequestMenu>{approved, [](auto& s, auto& m, auto& c) { s.requestMenu(m.bundleID, m.refresh, c); }},
        Route<M::AgentEvent>{approved, [](auto& s, auto& m, auto& c) { s.agentEvent(std::move(m._0), c); }},
        Route<M::RequestApproval>{approved, [](auto& s, auto& m, auto& c) { s.requestApproval(std::move(m._0), c); }},
        Route<M::ApprovalDecision>{approved, [](auto& s, auto& m, auto& c) { s.decideApproval(std::move(m), c); }},
        Route<M::RequestPendingApprovals>{approved, [](auto& s, auto&, auto& c) { s.sendPendingApprovals(c); }},
        Route<M::ViewHello>{open, [](auto& s, auto& m, auto& c) { s.openViewChannel(named(m._0), c); }},
        Route<M::UploadHello>{open, [](auto& s, auto& m, auto& c) { s.openUpload(named(m._0), c); }},
        Route<M::StillHello>{open, [](auto& s, auto& m, auto& c) { s.openStillChannel(named(m._0), c); }},
        Route<M::ListenHello>{open, [](auto& s, auto& m, auto& c) { s.openListenChannel(named(m._0), c); }},
        Route<M::Ping>{open, [](auto& s, auto& m, auto& c) { s.answerPing(m, *c); }},
        Route<M::RequestRemoteAccess>{approved, [](auto& s, auto&, auto& c) { s.sendRemoteAccess(c); }},
        Route<M::RegisterPush>{approved, [](auto& s, auto& m, auto& c) { s.registerPush(std::move(m._0), c); }},
    };
    static_assert(RoutesEachCaseOnce<std::remove_const_t<decltype(table)>, M::Value>::value,
                  "every ClientMessage case needs exactly one row in the routing table");

    template <class Case>
    static constexpr const Route<Case>& of() {
        return std::get<Route<Case>>(table);
    }
};

void HostServer::dispatch(ClientMessage& message, const ClientPtr& client) {
    std::visit([&](auto& payload) { Routes::of<std::decay_t<decltype(payload)>>().go(*this, payload, client); },
               message.value);
}

bool HostServer::passesBeforeApproval(const ClientMessage::Value& value) {
    return std::visit(
        [](const auto& payload) {
            return Routes::of<std::decay_t<decltype(payload)>>().admission == Gating::beforeApproval;
        },
        value);
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
