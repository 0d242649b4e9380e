#include "Shared/ApprovalRequest.hpp"

#include <limits>

#include "Platform/SecureRandom.hpp"
#include "Platform/UnicodeText.hpp"
#include "Shared/ApprovalClock.hpp"

namespace quib {

namespace {

constexpr std::string_view kTruncationSuffix = "\n\u2026 (truncated)";

// a + b, held at the int64 limits instead of overflowing: a creation time near the limit from
// a peer must not wrap the expiry into the past.
std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    return sum;
}

}  // namespace

std::string ApprovalRequest::cutDetail(std::string detail) {
    // Each character takes at least one byte, so a short text needs no counting.
    if (detail.size() <= maxDetailCharacters) return detail;
    if (unicode::graphemeCount(detail) <= maxDetailCharacters) return detail;
    std::string cut = unicode::prefixGraphemes(detail, maxDetailCharacters);
    cut += kTruncationSuffix;
    return cut;
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
