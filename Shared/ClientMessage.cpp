#include "Shared/ClientMessage.hpp"

#include "Shared/MessageCaseCoding.hpp"
#include "Shared/PointerLineReader.hpp"

namespace quib {

namespace messagecoding {

using M = ClientMessage;

// The labelled payload values of every case that has them; a single value travels as "_0", and
// the rest as {}.
template <>
inline constexpr auto caseFields<M::Move> = std::tuple{field("dx", &M::Move::dx), field("dy", &M::Move::dy)};
template <>
inline constexpr auto caseFields<M::Scroll> = std::tuple{field("dx", &M::Scroll::dx), field("dy", &M::Scroll::dy)};
template <>
inline constexpr auto caseFields<M::PointAtPanel> =
    std::tuple{field("x", &M::PointAtPanel::x), field("y", &M::PointAtPanel::y)};
template <>
inline constexpr auto caseFields<M::Click> = std::tuple{
    field("button", &M::Click::button), field("phase", &M::Click::phase), field("clickCount", &M::Click::clickCount)};
template <>
inline constexpr auto caseFields<M::Focus> = std::tuple{field("targetID", &M::Focus::targetID)};
template <>
inline constexpr auto caseFields<M::RequestVocabulary> = std::tuple{field("targetID", &M::RequestVocabulary::targetID)};
template <>
inline constexpr auto caseFields<M::RemoveTarget> = std::tuple{field("id", &M::RemoveTarget::id)};
template <>
inline constexpr auto caseFields<M::ReorderTargets> = std::tuple{field("ids", &M::ReorderTargets::ids)};
template <>
inline constexpr auto caseFields<M::RequestApps> = std::tuple{field("refresh", &M::RequestApps::refresh)};
template <>
inline constexpr auto caseFields<M::RequestWindows> = std::tuple{field("targetID", &M::RequestWindows::targetID)};
template <>
inline constexpr auto caseFields<M::FocusWindow> =
    std::tuple{field("targetID", &M::FocusWindow::targetID), field("windowID", &M::FocusWindow::windowID)};
template <>
inline constexpr auto caseFields<M::OpenWindow> =
    std::tuple{field("targetID", &M::OpenWindow::targetID), field("windowID", &M::OpenWindow::windowID)};
template <>
inline constexpr auto caseFields<M::RequestAppIcons> = std::tuple{field("bundleIDs", &M::RequestAppIcons::bundleIDs)};
template <>
inline constexpr auto caseFields<M::RequestMenu> =
    std::tuple{field("bundleID", &M::RequestMenu::bundleID), field("refresh", &M::RequestMenu::refresh)};
template <>
inline constexpr auto caseFields<M::ApprovalDecision> =
    std::tuple{field("id", &M::ApprovalDecision::id), field("decision", &M::ApprovalDecision::decision),
               field("reason", &M::ApprovalDecision::reason)};
template <>
inline constexpr auto caseFields<M::Ping> = std::tuple{field("nonce", &M::Ping::nonce)};

}  // namespace messagecoding

ClientMessage ClientMessage::fromJson(const Json& json) {
    return ClientMessage{messagecoding::Cases<Value>::decode(json)};
}

std::optional<ClientMessage> ClientMessage::readQuickly(std::string_view text,
                                                        const BoundedJson::Limits& limits) noexcept {
    return PointerLineReader::read(text, limits);
}

Json ClientMessage::toJson() const { return messagecoding::Cases<Value>::encode(value); }

}  // namespace quib
