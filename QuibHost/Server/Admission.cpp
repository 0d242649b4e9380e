#include "QuibHost/Server/Admission.hpp"

#include <algorithm>
#include <map>

#include "QuibHost/Server/HostServerClient.hpp"
#include "Runtime/Logger.hpp"

namespace quib {

Admission::Verdict Admission::weigh(const std::string& source, MonoTime now, std::size_t connected) {
    const MonoTime graceEnded = now - pendingGrace;
    std::size_t held = 0;
    bool stalled = false;
    for (const auto& [key, client] : pending_) {
        if (client->source != source) continue;
        ++held;
        stalled = stalled || client->acceptedAt <= graceEnded;
    }
    if (held >= pendingPerSource) {
        if (!stalled) return {Weighed::waits, nullptr};
        quibLog().error("refused ", pub(source), ": ", pendingPerSource,
                        " of its connections are already waiting for their first line");
        return {Weighed::refused, nullptr};
    }
    if (static_cast<int>(pending_.size() + connected) < connectionBudget) return {Weighed::admitted, nullptr};
    if (auto displaced = makeRoomFor(source, now)) return {Weighed::admitted, std::move(displaced)};
    return {Weighed::waits, nullptr};
}

Admission::ClientPtr Admission::makeRoomFor(const std::string& source, MonoTime now) {
    struct Holder {
        std::size_t count = 0;
        ClientPtr oldest;  // the oldest past its grace
    };
    const MonoTime graceEnded = now - pendingGrace;
    std::map<std::string, Holder> holders;
    for (const auto& [key, client] : pending_) {
        Holder& holder = holders[client->source];
        ++holder.count;
        if (client->acceptedAt > graceEnded) continue;
        if (!holder.oldest || client->order < holder.oldest->order) holder.oldest = client;
    }
    const std::size_t newcomerHolds = holders.contains(source) ? holders[source].count : 0;
    const Holder* most = nullptr;
    for (const auto& [key, holder] : holders) {
        if (holder.count <= newcomerHolds || !holder.oldest) continue;
        if (!most || holder.count > most->count ||
            (holder.count == most->count && holder.oldest->order < most->oldest->order))
            most = &holder;
    }
    if (!most) return nullptr;
    ClientPtr victim = most->oldest;
    pending_.erase(victim.get());
    quibLog().info("dropping ", pub(victim->source), ": its waiting connection gives way to one from ", pub(source));
    return victim;
}

bool Admission::wait(Newcomer& newcomer) {
    if (waiting_.size() >= mostWaiting) return false;
    waiting_.push_back(std::move(newcomer));
    return true;
}

std::optional<Admission::Newcomer> Admission::nextWaiting() {
    if (waiting_.empty()) return std::nullopt;
    Newcomer newcomer = std::move(waiting_.front());
    waiting_.pop_front();
    return newcomer;
}

void Admission::enter(const ClientPtr& client, MonoTime now) {
    client->order = ++accepted_;
    client->acceptedAt = now;
    pending_.emplace(client.get(), client);
}

int Admission::listenerLimit(std::size_t connected) const {
    const int open = static_cast<int>(connected + pending_.size());
    int limit = std::max(connectionBudget - open, 0);
    if (limit == 0 && !pending_.empty() && waiting_.size() < mostWaiting) limit = 1;
    return limit;
}

std::optional<MonoTime::duration> Admission::nextWeighing(MonoTime now) {
    if (weighArmed_ || waiting_.empty()) return std::nullopt;
    MonoTime first = MonoTime::max();
    for (const auto& [key, client] : pending_) {
        if (client->acceptedAt + pendingGrace > now) first = std::min(first, client->acceptedAt + pendingGrace);
    }
    if (first == MonoTime::max()) return std::nullopt;
    weighArmed_ = true;
    return first - now;
}

void Admission::dropAway() {
    std::erase_if(pending_, [](const auto& entry) {
        if (!entry.second->isAway) return false;
        entry.second->connection->cancel();
        return true;
    });
    std::erase_if(waiting_, [](const Newcomer& newcomer) {
        if (newcomer.away) newcomer.connection->cancel();
        return newcomer.away;
    });
}

void Admission::closeAll() {
    for (auto& newcomer : waiting_) newcomer.connection->cancel();
    waiting_.clear();
    for (auto& [key, client] : pending_) client->connection->cancel();
    pending_.clear();
}

}  // namespace quib
