#include "Shared/ApprovalRequest.hpp"

#include "Runtime/SecureRandom.hpp"
#include "Runtime/UnicodeText.hpp"
#include "Shared/ApprovalClock.hpp"
#include "Shared/EpochMillis.hpp"

namespace quib {

namespace {

constexpr std::string_view kTruncationSuffix = "\n\u2026 (truncated)";

}  // namespace

std::string ApprovalRequest::cutDetail(std::string detail) {
    // Each character takes at least one byte, so a short text needs no counting.
    if (detail.size() <= maxDetailCharacters) return detail;
    if (unicode::graphemeCount(detail) <= maxDetailCharacters) return detail;
    std::string cut = unicode::prefixGraphemes(detail, maxDetailCharacters);
    cut += kTruncationSuffix;
    return cut;
}

ApprovalRequest ApprovalRequest::make(std::string id, std::optional<std::string> targetID, std::string targetName,
                                      std::string title, std::string detail, Kind kind,
                                      std::int64_t createdAtEpochMillis, double timeoutSeconds,
                                      ApprovalDecision onExpiry) {
    if (!(timeoutSeconds > 1)) timeoutSeconds = 1;
    if (timeoutSeconds > maxTimeoutSeconds) timeoutSeconds = maxTimeoutSeconds;
    const auto timeoutMillis = static_cast<std::int64_t>(timeoutSeconds * 1000);
    ApprovalRequest request;
    request.id = std::move(id);
    request.targetID = std::move(targetID);
    request.targetName = std::move(targetName);
    request.title = std::move(title);
    request.detail = cutDetail(std::move(detail));
    request.kind = kind;
    request.createdAtEpochMillis = createdAtEpochMillis;
    request.expiresAtEpochMillis = saturatingAdd(createdAtEpochMillis, timeoutMillis);
    request.onExpiry = onExpiry;
    return request;
}

ApprovalRequest ApprovalRequest::fromJson(const Json& json) {
    const JsonReader r(json);
    ApprovalRequest request;
    auto id = r.optional<std::string>("id");
    request.id = id ? std::move(*id) : newUuidString();
    request.targetID = r.optional<std::string>("targetID");
    request.targetName = r.value<std::string>("targetName", "an agent");
    request.title = r.value<std::string>("title", "Asking permission");
    request.detail = cutDetail(r.value<std::string>("detail", ""));
    request.kind = r.value("kind", Kind::other);
    const auto created = r.optional<std::int64_t>("createdAtEpochMillis");
    request.createdAtEpochMillis = created ? *created : ApprovalClock::now();
    const auto expires = r.optional<std::int64_t>("expiresAtEpochMillis");
    request.expiresAtEpochMillis =
        expires ? *expires : saturatingAdd(request.createdAtEpochMillis, defaultTimeoutSeconds * 1000);
    request.onExpiry = readDecisionOrDeny(r, "onExpiry");
    return request;
}

bool ApprovalRequest::isExpired(std::int64_t now) const { return now >= expiresAtEpochMillis; }

std::int64_t ApprovalRequest::secondsRemaining(std::int64_t now) const {
    if (isExpired(now)) return 0;
    // The two times may be farther apart than an int64 holds; their distance always fits unsigned.
    const auto left = static_cast<std::uint64_t>(expiresAtEpochMillis) - static_cast<std::uint64_t>(now);
    return static_cast<std::int64_t>(left / 1000);
}

Json ApprovalRequest::toJson() const {
    return JsonWriter()
        .put("id", id)
        .put("targetID", targetID)
        .put("targetName", targetName)
        .put("title", title)
        .put("detail", detail)
        .put("kind", kind)
        .put("createdAtEpochMillis", createdAtEpochMillis)
        .put("expiresAtEpochMillis", expiresAtEpochMillis)
        .put("onExpiry", onExpiry)
        .take();
}

}  // namespace quib
