#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Runtime/BoundedJson.hpp"
#include "Shared/AgentEvent.hpp"
#include "Shared/ApprovalDecision.hpp"
#include "Shared/ApprovalRequest.hpp"
#include "Shared/AttachmentManifest.hpp"
#include "Shared/ClickPhase.hpp"
#include "Shared/HelloPayload.hpp"
#include "Shared/Json.hpp"
#include "Shared/KeyPayload.hpp"
#include "Shared/ListenHelloPayload.hpp"
#include "Shared/MessageCase.hpp"
#include "Shared/MouseButton.hpp"
#include "Shared/PushRegistration.hpp"
#include "Shared/QuibTarget.hpp"
#include "Shared/ScrollGesturePhase.hpp"
#include "Shared/StillRequest.hpp"
#include "Shared/TextPayload.hpp"
#include "Shared/ViewHelloPayload.hpp"

namespace quib {

// Everything a phone (or an agent-side client) can say to the host: one line of the control
// connection, {"<case>":{...}}. One struct per case, named after it; `name` is its JSON key and
// the fields are its payload labels (a SingleValueCase's one unlabelled payload is "_0").
//
// Decoding is strict: exactly one case key, an object under it, every payload value present
// with the right type. Only `FocusWindow::windowID`, `OpenWindow::windowID` and
// `ApprovalDecision::reason` are optional. Payload records fill their own defaults.
struct ClientMessage {
    using Hello = SingleValueCase<"hello", HelloPayload>;
    struct Move {
        static constexpr std::string_view name = "move";
        double dx = 0;
        double dy = 0;
    };
    struct Scroll {
        static constexpr std::string_view name = "scroll";
        double dx = 0;
        double dy = 0;
    };
    using ScrollPhase = SingleValueCase<"scrollPhase", ScrollGesturePhase>;
    // A spot of the window on the view channel, in unit coordinates of that window.
    struct PointAtPanel {
        static constexpr std::string_view name = "pointAtPanel";
        double x = 0;
        double y = 0;
    };
    struct Click {
        static constexpr std::string_view name = "click";
        MouseButton button{};
        ClickPhase phase{};
        std::int64_t clickCount = 0;
    };
    using Text = SingleValueCase<"text", TextPayload>;
    struct Focus {
        static constexpr std::string_view name = "focus";
        std::string targetID;
    };
    using Key = SingleValueCase<"key", KeyPayload>;
    struct RequestVocabulary {
        static constexpr std::string_view name = "requestVocabulary";
        std::string targetID;
    };
    using AddTarget = SingleValueCase<"addTarget", QuibTarget>;
    using UpdateTarget = SingleValueCase<"updateTarget", QuibTarget>;
    using AddTargets = SingleValueCase<"addTargets", std::vector<QuibTarget>>;
    struct RemoveTarget {
        static constexpr std::string_view name = "removeTarget";
        std::string id;
    };
    struct ReorderTargets {
        static constexpr std::string_view name = "reorderTargets";
        std::vector<std::string> ids;
    };
    using RequestPanes = EmptyCase<"requestPanes">;
    struct RequestApps {
        static constexpr std::string_view name = "requestApps";
        bool refresh = false;
    };
    struct RequestWindows {
        static constexpr std::string_view name = "requestWindows";
        std::string targetID;
    };
    // Without a window number the target is unpinned and follows its app's front window.
    struct FocusWindow {
        static constexpr std::string_view name = "focusWindow";
        std::string targetID;
        std::optional<std::uint32_t> windowID;
    };
    struct OpenWindow {
        static constexpr std::string_view name = "openWindow";
        std::string targetID;
        std::optional<std::uint32_t> windowID;
    };
    struct RequestAppIcons {
        static constexpr std::string_view name = "requestAppIcons";
        std::vector<std::string> bundleIDs;
    };
    struct RequestMenu {
        static constexpr std::string_view name = "requestMenu";
        std::string bundleID;
        bool refresh = false;
    };
    using AgentEvent = SingleValueCase<"agentEvent", ::quib::AgentEvent>;
    using RequestApproval = SingleValueCase<"requestApproval", ApprovalRequest>;
    // The decision must be "approve" or "deny"; any other word fails the message.
    struct ApprovalDecision {
        static constexpr std::string_view name = "approvalDecision";
        std::string id;
        ::quib::ApprovalDecision decision = ::quib::ApprovalDecision::deny;
        std::optional<std::string> reason;
    };
    using RequestPendingApprovals = EmptyCase<"requestPendingApprovals">;
    using ViewHello = SingleValueCase<"viewHello", ViewHelloPayload>;
    using UploadHello = SingleValueCase<"uploadHello", AttachmentManifest>;
    using StillHello = SingleValueCase<"stillHello", StillRequest>;
    using ListenHello = SingleValueCase<"listenHello", ListenHelloPayload>;
    struct Ping {
        static constexpr std::string_view name = "ping";
        std::uint64_t nonce = 0;
    };
    using RequestRemoteAccess = EmptyCase<"requestRemoteAccess">;
    using RegisterPush = SingleValueCase<"registerPush", PushRegistration>;

    using Value =
        std::variant<Hello, Move, Scroll, ScrollPhase, PointAtPanel, Click, Text, Focus, Key, RequestVocabulary,
                     AddTarget, UpdateTarget, AddTargets, RemoveTarget, ReorderTargets, RequestPanes, RequestApps,
                     RequestWindows, FocusWindow, OpenWindow, RequestAppIcons, RequestMenu, AgentEvent, RequestApproval,
                     ApprovalDecision, RequestPendingApprovals, ViewHello, UploadHello, StillHello, ListenHello, Ping,
                     RequestRemoteAccess, RegisterPush>;

    Value value;

    static ClientMessage fromJson(const Json& json);
    // The pointer cases in their plain form, read without building a tree (PointerLineReader);
    // nothing for any other line.
    static std::optional<ClientMessage> readQuickly(std::string_view text, const BoundedJson::Limits& limits) noexcept;
    Json toJson() const;
};

}  // namespace quib
