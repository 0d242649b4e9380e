// Requests the host does not serve yet: they pass the gate and are answered with nothing.

#include "QuibHost/Server/HostServer.hpp"

namespace quib {

void HostServer::focusWindow(const std::string&, std::optional<std::uint32_t>, const ClientPtr&) {}
void HostServer::openWindow(const std::string&, std::optional<std::uint32_t>, const ClientPtr&) {}

}  // namespace quib
