#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Shared/AgentEvent.hpp"
#include "Shared/AppCatalogPayload.hpp"
#include "Shared/ApprovalRequest.hpp"
#include "Shared/ApprovalResolution.hpp"
#include "Shared/DeliveryReceipt.hpp"
#include "Shared/HostStatus.hpp"
#include "Shared/Json.hpp"
#include "Shared/MenuProfilePayload.hpp"
#include "Shared/QuibTarget.hpp"
#include "Shared/RemoteAccessPayload.hpp"
#include "Shared/TmuxPane.hpp"
#include "Shared/VocabularyPayload.hpp"
#include "Shared/WindowListPayload.hpp"

namespace quib {

// Every reply, event and broadcast the host writes on a control connection; sent as one line
// through QuibCoder::line. One struct per case, named after it; `name` is its JSON key and the
// fields are its payload labels ("_0" for a single unlabelled payload). No payload value is
// optional: decoding (for phone-side clients) requires every label with the right type.
struct HostMessage {
    // The answer to an accepted hello; the targets are empty for a device not yet approved.
    struct Welcome {
        static constexpr std::string_view name = "welcome";
        HostStatus status;
        std::vector<QuibTarget> targets;
    };
    struct Status {
        static constexpr std::string_view name = "status";
        HostStatus _0;
    };
    // Saved targets followed by provisional ones.
    struct Targets {
        static constexpr std::string_view name = "targets";
        std::vector<QuibTarget> _0;
    };
    struct Toast {
        static constexpr std::string_view name = "toast";
        std::string _0;
    };
    struct Error {
        static constexpr std::string_view name = "error";
        std::string _0;
    };
    struct Delivered {
        static constexpr std::string_view name = "delivered";
        DeliveryReceipt _0;
    };
    struct AgentEvent {
        static constexpr std::string_view name = "agentEvent";
        ::quib::AgentEvent _0;
    };
    struct Vocabulary {
        static constexpr std::string_view name = "vocabulary";
        VocabularyPayload _0;
    };
    struct ApprovalRequest {
        static constexpr std::string_view name = "approvalRequest";
        ::quib::ApprovalRequest _0;
    };
    struct ApprovalResolved {
        static constexpr std::string_view name = "approvalResolved";
        ApprovalResolution _0;
    };
    struct PendingApprovals {
        static constexpr std::string_view name = "pendingApprovals";
        std::vector<::quib::ApprovalRequest> _0;
    };
    struct Panes {
        static constexpr std::string_view name = "panes";
        std::vector<TmuxPane> _0;
    };
    struct Windows {
        static constexpr std::string_view name = "windows";
        WindowListPayload _0;
    };
    struct Apps {
        static constexpr std::string_view name = "apps";
        AppCatalogPayload _0;
    };
    struct Menu {
        static constexpr std::string_view name = "menu";
        MenuProfilePayload _0;
    };
    // An accepted upload hello; the batch identifier is a new UUID.
    struct UploadReady {
        static constexpr std::string_view name = "uploadReady";
        std::string batchID;
    };
    // Echoes the ping's nonce; hostTime is the host's monotonic uptime in nanoseconds
    // (CLOCK_MONOTONIC), comparable only with other pongs of the same boot.
    struct Pong {
        static constexpr std::string_view name = "pong";
        std::uint64_t nonce = 0;
        std::uint64_t hostTime = 0;
    };
    struct RemoteAccess {
        static constexpr std::string_view name = "remoteAccess";
        RemoteAccessPayload _0;
    };

    using Value =
        std::variant<Welcome, Status, Targets, Toast, Error, Delivered, AgentEvent, Vocabulary, ApprovalRequest,
                     ApprovalResolved, PendingApprovals, Panes, Windows, Apps, Menu, UploadReady, Pong, RemoteAccess>;

    Value value;

    static HostMessage fromJson(const Json& json);
    Json toJson() const;
};

}  // namespace quib
