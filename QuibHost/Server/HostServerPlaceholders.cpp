// Requests the host does not serve yet: they pass the gate and are answered with nothing.

#include "QuibHost/Server/HostServer.hpp"

namespace quib {

// Approval requests are not wired to phones yet.
void HostServer::beginApprovals() {}

void HostServer::requestVocabulary(const std::string&, const ClientPtr&) {}
void HostServer::requestApps(bool, const ClientPtr&) {}
void HostServer::requestWindows(const std::string&, const ClientPtr&) {}
void HostServer::focusWindow(const std::string&, std::optional<std::uint32_t>, const ClientPtr&) {}
void HostServer::openWindow(const std::string&, std::optional<std::uint32_t>, const ClientPtr&) {}
void HostServer::requestAppIcons(std::vector<std::string>, const ClientPtr&) {}
void HostServer::requestMenu(const std::string&, bool, const ClientPtr&) {}
void HostServer::agentEvent(AgentEvent, const ClientPtr&) {}
void HostServer::requestApproval(ApprovalRequest, const ClientPtr&) {}
void HostServer::decideApproval(ClientMessage::ApprovalDecision, const ClientPtr&) {}
void HostServer::sendPendingApprovals(const ClientPtr&) {}
void HostServer::registerPush(PushRegistration, const ClientPtr&) {}

}  // namespace quib
