#include "Shared/HostMessage.hpp"

#include "Shared/MessageCaseCoding.hpp"

namespace quib {

namespace messagecoding {

using H = HostMessage;

template <>
inline constexpr auto caseFields<H::Welcome> =
    std::tuple{field("status", &H::Welcome::status), field("targets", &H::Welcome::targets)};
template <>
inline constexpr auto caseFields<H::Status> = std::tuple{field("_0", &H::Status::_0)};
template <>
inline constexpr auto caseFields<H::Targets> = std::tuple{field("_0", &H::Targets::_0)};
template <>
inline constexpr auto caseFields<H::Toast> = std::tuple{field("_0", &H::Toast::_0)};
template <>
inline constexpr auto caseFields<H::Error> = std::tuple{field("_0", &H::Error::_0)};
template <>
inline constexpr auto caseFields<H::Delivered> = std::tuple{field("_0", &H::Delivered::_0)};
template <>
inline constexpr auto caseFields<H::AgentEvent> = std::tuple{field("_0", &H::AgentEvent::_0)};
template <>
inline constexpr auto caseFields<H::Vocabulary> = std::tuple{field("_0", &H::Vocabulary::_0)};
template <>
inline constexpr auto caseFields<H::ApprovalRequest> = std::tuple{field("_0", &H::ApprovalRequest::_0)};
template <>
inline constexpr auto caseFields<H::ApprovalResolved> = std::tuple{field("_0", &H::ApprovalResolved::_0)};
template <>
inline constexpr auto caseFields<H::PendingApprovals> = std::tuple{field("_0", &H::PendingApprovals::_0)};
template <>
inline constexpr auto caseFields<H::Panes> = std::tuple{field("_0", &H::Panes::_0)};
template <>
inline constexpr auto caseFields<H::Windows> = std::tuple{field("_0", &H::Windows::_0)};
template <>
inline constexpr auto caseFields<H::Apps> = std::tuple{field("_0", &H::Apps::_0)};
template <>
inline constexpr auto caseFields<H::Menu> = std::tuple{field("_0", &H::Menu::_0)};
template <>
inline constexpr auto caseFields<H::UploadReady> = std::tuple{field("batchID", &H::UploadReady::batchID)};
template <>
inline constexpr auto caseFields<H::Pong> =
    std::tuple{field("nonce", &H::Pong::nonce), field("hostTime", &H::Pong::hostTime)};
template <>
inline constexpr auto caseFields<H::RemoteAccess> = std::tuple{field("_0", &H::RemoteAccess::_0)};

}  // namespace messagecoding

HostMessage HostMessage::fromJson(const Json& json) { return HostMessage{messagecoding::Cases<Value>::decode(json)}; }

Json HostMessage::toJson() const { return messagecoding::Cases<Value>::encode(value); }

}  // namespace quib
