// Requests a phone makes for what the host knows: recognition terms, the app catalog and icons,
// an app's windows and its menu-bar shortcuts. Each runs on the queue of the area that answers
// it and replies in chunks where answers can be long.

#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Server/HostServerClient.hpp"
#include "Runtime/Logger.hpp"
#include "Shared/AppCatalogPayload.hpp"
#include "Shared/PayloadChunker.hpp"
#include "Shared/QuibCoder.hpp"

namespace quib {

namespace {

constexpr std::size_t suggestionLimit = 30;

HostMessage error(std::string text) { return HostMessage{HostMessage::Error{std::move(text)}}; }

}  // namespace

void HostServer::sendLater(const std::shared_ptr<NetworkQueue>& network, ClientRef to, std::vector<std::string> lines,
                           bool thenClose) {
    network->post([to = std::move(to), lines = std::move(lines), thenClose]() mutable {
        auto client = to.lock();
        if (!client) return;
        for (auto& line : lines) client->connection->send(std::move(line), false);
        if (thenClose) client->connection->send(std::string(), true);
    });
}

// Repeats for a target that come while its request waits to start are answered by it.
void HostServer::requestVocabulary(const std::string& targetID, const ClientPtr& client) {
    auto target = neighbours_.targets->safeTarget(targetID);
    if (!target) {
        send(error("Unknown target"), *client);
        return;
    }
    if (!client->vocabularyRequests->join(target->id)) return;
    sendVocabulary(std::move(*target), client);
}

// The vocabulary's queue belongs to the vocabulary, not to the server, so its task holds only
// what outlives the server: the network queue, which drops work once the server has gone.
void HostServer::sendVocabulary(QuibTarget target, const ClientPtr& client) {
    neighbours_.vocabulary->queue().post([vocabulary = neighbours_.vocabulary, network = network_,
                                          to = ClientRef(client), target = std::move(target),
                                          request = client->vocabularyRequests] {
        request->start(target.id);
        const auto terms = vocabulary->terms(target);
        std::vector<std::string> lines;
        const auto chunks = VocabularyPayload::chunked(target.id, terms);
        for (const auto& chunk : chunks) {
            if (auto line = QuibCoder::line(HostMessage{HostMessage::Vocabulary{chunk}}))
                lines.push_back(std::move(*line));
        }
        sendLater(network, to, std::move(lines));
        quibLog().info("vocabulary for ", pub(target.name), ": ", terms.size(), " terms in ", chunks.size(),
                       " chunk(s)");
    });
}

// Apps that already have a target are marked as such in the suggestions. Repeats that come while
// a request waits to start are answered by it, with a fresh scan if any of them asked for one.
void HostServer::requestApps(bool refresh, const ClientPtr& client) {
    if (!client->appsRequest->join(refresh)) return;
    onCatalog([to = ClientRef(client), request = client->appsRequest](HostServer& server) {
        const bool refresh = request->start();
        std::set<std::string> targeted;
        for (const auto& target : server.neighbours_.targets->snapshot().saved) {
            if (target.kind == QuibTarget::Kind::app && target.bundleID) targeted.insert(*target.bundleID);
        }
        auto apps = server.neighbours_.catalog->suggestions(refresh, targeted, suggestionLimit);
        for (auto& chunk : AppCatalogPayload::chunked(std::move(apps), AppCatalogPayload::Purpose::suggestions)) {
            server.reply(to, HostMessage{HostMessage::Apps{std::move(chunk)}});
        }
    });
}

// Icons are drawn one at a time and sent a chunk at a time. Drawing stops once the phone has
// gone, its connection is closing or it is not reading what it was sent, so that a request holds
// no more than one chunk, however many icons it names.
void HostServer::requestAppIcons(std::vector<std::string> bundleIDs, const ClientPtr& client) {
    onCatalog([bundleIDs = std::move(bundleIDs), to = ClientRef(client)](HostServer& server) {
        PayloadChunker::Filler<MacApp> filler(&MacApp::icon, PayloadChunker::messageBudget);
        std::int64_t sequence = 0;
        bool wanted = true;
        server.neighbours_.catalog->icons(bundleIDs, [&](MacApp row) {
            if (auto full = filler.add(std::move(row)))
                wanted = server.sendIcons(std::move(*full), sequence++, false, to);
            return wanted;
        });
        if (wanted) (void)server.sendIcons(filler.take(), sequence, true, to);
    });
}

bool HostServer::sendIcons(std::vector<MacApp> apps, std::int64_t sequence, bool isFinal, const ClientRef& to) {
    const AppCatalogPayload chunk{AppCatalogPayload::Purpose::icons, std::move(apps), sequence, isFinal};
    auto line = QuibCoder::line(HostMessage{HostMessage::Apps{chunk}});
    bool wanted = false;
    (void)network_->sync([&] {
        const auto client = to.lock();
        if (!client) return;
        sendEncoded(std::move(line), *client);
        wanted = !client->connection->isClosing() && !client->connection->isBacklogged();
    });
    return wanted;
}

// Only an app target with a bundle identifier has windows. Repeats for a target that come while
// its list waits to start are answered by it.
void HostServer::requestWindows(const std::string& targetID, const ClientPtr& client) {
    auto target = neighbours_.targets->safeTarget(targetID);
    if (!target) {
        send(error("Unknown target"), *client);
        return;
    }
    if (target->kind != QuibTarget::Kind::app || !target->bundleID || target->bundleID->empty()) {
        const WindowListPayload none{target->id, {}, "Only an app has windows to pick from.", 0, true};
        send(HostMessage{HostMessage::Windows{none}}, *client);
        return;
    }
    if (!client->windowsRequests->join(target->id)) return;
    sendWindowList(*target, target->id, ClientRef(client), true, client->windowsRequests);
}

void HostServer::requestMenu(const std::string& bundleID, bool refresh, const ClientPtr& client) {
    onMenu([bundleID, refresh, to = ClientRef(client)](HostServer& server) {
        server.reply(to, HostMessage{HostMessage::Menu{server.neighbours_.menus->profile(bundleID, refresh)}});
    });
}

}  // namespace quib
