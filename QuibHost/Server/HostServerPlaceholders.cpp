#include "QuibHost/Server/HostServer.hpp"

namespace quib {

// Approval requests are not wired to phones yet.
void HostServer::beginApprovals() {}

}  // namespace quib
