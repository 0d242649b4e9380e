#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>

#include "QuibHost/Connection/TlsConnection.hpp"
#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Server/WaitingRequest.hpp"
#include "QuibHost/Server/WaitingRequests.hpp"
#include "QuibHost/Targets/UploadSession.hpp"
#include "Runtime/Clock.hpp"
#include "Shared/LineFramer.hpp"
#include "Shared/MouseButton.hpp"

namespace quib {

// The server's record of one accepted connection, kept by identity in its pending or connected
// table (HostServer::Client). Touched on the network queue only.
class HostServerClient {
public:
    HostServerClient(std::shared_ptr<TlsConnection> connection, std::string source, bool isAway)
        : connection(std::move(connection)), source(std::move(source)), isAway(isAway) {}

    const std::shared_ptr<TlsConnection> connection;
    const std::string source;  // the peer's source key; keys the lock-out records
    LineFramer framer{HostServer::maxLineBytes};
    std::string name = "iPhone";
    std::optional<std::string> deviceID;
    bool didHello = false;
    std::set<MouseButton> heldButtons;
    MonoTime lastRefusal = MonoTime::min();
    std::set<std::string> approvalIDs;
    bool isViewChannel = false;
    bool isListenChannel = false;
    std::shared_ptr<UploadSession> upload;
    MonoTime lastFrameAt{};  // when its upload started, or when its last whole frame arrived
    bool isStillChannel = false;
    const bool isAway;
    std::uint64_t order = 0;            // when it was accepted, among all connections
    MonoTime acceptedAt{};              // when it was started
    std::uint64_t backlogEpisodes = 0;  // times its backlog went over the limit
    std::uint64_t stallWritten = 0;     // a frame channel's bytes written when last looked at
    MonoTime stallSince{};              // since when it has had bytes in flight and taken none
    // Its pane listing and app suggestions waiting on their queues; shared with those queues.
    const std::shared_ptr<WaitingRequest> panesRequest = std::make_shared<WaitingRequest>();
    const std::shared_ptr<WaitingRequest> appsRequest = std::make_shared<WaitingRequest>();
    // Its window lists and vocabularies waiting on their queues, one for each target.
    const std::shared_ptr<WaitingRequests> windowsRequests = std::make_shared<WaitingRequests>();
    const std::shared_ptr<WaitingRequests> vocabularyRequests = std::make_shared<WaitingRequests>();

    // Not a view, listen or still channel, and no upload in progress. Every line the host sends
    // to many connections at once (status, targets, events, approvals, remote access) goes to
    // control connections only: after their hello, side channels carry binary frames that a
    // JSON line would break.
    bool isControlConnection() const { return !isFrameChannel() && !upload; }
    // A view, listen or still channel: past its hello it carries only frames, which the host
    // never reads as lines.
    bool isFrameChannel() const { return isViewChannel || isListenChannel || isStillChannel; }
};

}  // namespace quib
