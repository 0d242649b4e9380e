#include "Shared/HostMessage.hpp"

#include "Shared/MessageCaseCoding.hpp"

namespace quib {

namespace messagecoding {

using H = HostMessage;

template <>
inline constexpr auto caseFields<H::Welcome> =
    std::tuple{field("status", &H::Welcome::status), field("targets", &H::Welcome::targets)};
template <>
inline constexpr auto caseFields<H::UploadReady> = std::tuple{field("batchID", &H::UploadReady::batchID)};
template <>
inline constexpr auto caseFields<H::Pong> =
    std::tuple{field("nonce", &H::Pong::nonce), field("hostTime", &H::Pong::hostTime)};

}  // namespace messagecoding

HostMessage HostMessage::fromJson(const Json& json) { return HostMessage{messagecoding::Cases<Value>::decode(json)}; }

Json HostMessage::toJson() const { return messagecoding::Cases<Value>::encode(value); }

}  // namespace quib
