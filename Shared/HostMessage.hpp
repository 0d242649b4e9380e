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
#include "Shared/MessageCase.hpp"
#include "Shared/QuibTarget.hpp"
#include "Shared/RemoteAccessPayload.hpp"
#include "Shared/TmuxPane.hpp"
#include "Shared/VocabularyPayload.hpp"
#include "Shared/WindowListPayload.hpp"

namespace quib {

// Every reply, event and broadcast the host writes on a control connection; sent as one line
// through QuibCoder::line. One struct per case, named after it; `name` is its JSON key and the
// fields are its payload labels (a SingleValueCase's one unlabelled payload is "_0"). No payload
// value is optional: decoding (for phone-side clients) requires every label with the right type.
struct HostMessage {
    // The answer to an accepted hello; the targets are empty for a device not yet approved.
    struct Welcome {
        static constexpr std::string_view name = "welcome";
        HostStatus status;
        std::vector<QuibTarget> targets;
    };
    using Status = SingleValueCase<"status", HostStatus>;
    // Saved targets followed by provisional ones.
    using Targets = SingleValueCase<"targets", std::vector<QuibTarget>>;
    using Toast = SingleValueCase<"toast", std::string>;
    using Error = SingleValueCase<"error", std::string>;
    using Delivered = SingleValueCase<"delivered", DeliveryReceipt>;
    using AgentEvent = SingleValueCase<"agentEvent", ::quib::AgentEvent>;
    using Vocabulary = SingleValueCase<"vocabulary", VocabularyPayload>;
    using ApprovalRequest = SingleValueCase<"approvalRequest", ::quib::ApprovalRequest>;
    using ApprovalResolved = SingleValueCase<"approvalResolved", ApprovalResolution>;
    using PendingApprovals = SingleValueCase<"pendingApprovals", std::vector<::quib::ApprovalRequest>>;
    using Panes = SingleValueCase<"panes", std::vector<TmuxPane>>;
    using Windows = SingleValueCase<"windows", WindowListPayload>;
    using Apps = SingleValueCase<"apps", AppCatalogPayload>;
    using Menu = SingleValueCase<"menu", MenuProfilePayload>;
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
    using RemoteAccess = SingleValueCase<"remoteAccess", RemoteAccessPayload>;

    using Value =
        std::variant<Welcome, Status, Targets, Toast, Error, Delivered, AgentEvent, Vocabulary, ApprovalRequest,
                     ApprovalResolved, PendingApprovals, Panes, Windows, Apps, Menu, UploadReady, Pong, RemoteAccess>;

    Value value;

    static HostMessage fromJson(const Json& json);
    Json toJson() const;
};

}  // namespace quib
