#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "QuibHost/Connection/TlsConnection.hpp"
#include "QuibHost/Server/ThrottleTable.hpp"
#include "Runtime/Clock.hpp"

namespace quib {

class HostServerClient;  // QuibHost/Server/HostServerClient.hpp

// Who gets one of the server's connection slots, and when: the accepted connections that have
// not said their first line yet (pending), the newcomers accepted but not started (waiting), the
// lock-out records of sources whose handshakes keep failing, and the count of connections
// accepted so far, which orders the pending ones by age.
//
// The budget is shared fairly: one source may hold at most two connections that have not said
// their first line; a third waits, unstarted, while those two are within their grace (a phone
// opening many side channels at once), and is refused once one of them has stalled past it.
// When every slot is taken, a newcomer from a source holding fewer such connections takes the
// place of the oldest one of the source holding the most, once that one has waited past its
// grace; until then, or when none may give way, the newcomer waits its turn. Connections past
// their first line are never given up for a newcomer.
//
// Threads: not thread-safe; the server keeps it on its network queue, with the connections.
class Admission {
public:
    using ClientPtr = std::shared_ptr<HostServerClient>;
    using ClientTable = std::unordered_map<const HostServerClient*, ClientPtr>;

    static constexpr int connectionBudget = 8;
    // How many connections of one source may wait for their first line at once.
    static constexpr std::size_t pendingPerSource = 2;
    // How long a connection may wait for its first line before it may give way to a newcomer.
    static constexpr std::chrono::seconds pendingGrace{3};
    // How many accepted newcomers may wait to be started (a phone may open a burst of side
    // channels at once); past that a newcomer is refused.
    static constexpr std::size_t mostWaiting = 4 * connectionBudget;

    // A connection accepted but not started.
    struct Newcomer {
        std::shared_ptr<TlsConnection> connection;
        std::string source;
        bool away = false;
    };

    enum class Weighed { admitted, waits, refused };
    struct Verdict {
        Weighed weighed = Weighed::waits;
        // The pending connection that gives way to the newcomer, already out of the table so
        // that its end counts no failed handshake; its owner closes it.
        ClientPtr displaced;
    };

    // Whether a newcomer of `source` may start now, with `connected` connections past their
    // first line. Refusals here count no failure.
    Verdict weigh(const std::string& source, MonoTime now, std::size_t connected);

    // Queues a newcomer that must wait, oldest first, taking it; false, leaving it to its owner,
    // when mostWaiting already wait.
    bool wait(Newcomer& newcomer);
    // The oldest waiting newcomer, out of the queue; none when none waits.
    std::optional<Newcomer> nextWaiting();

    // Takes a started connection into the pending table, ordered after every earlier one.
    void enter(const ClientPtr& client, MonoTime now);

    // How many new connections the listeners may take, with `connected` past their first line.
    // While slots are free, newcomers are let in and weighed, so that one source's surplus,
    // waiting, never hides another source's connection in the kernel's backlog. With every slot
    // taken but some connection still before its first line, one more at a time is let in to be
    // weighed against those, while there is room to wait; with every slot past its first line,
    // newcomers wait in the backlog.
    int listenerLimit(std::size_t connected) const;

    // The waiting newcomers are weighed again when the first pending connection still within
    // its grace reaches the end of it; one timer at a time. Gives how long that is from `now`
    // when a timer is to be armed now (and counts it as armed until `weighingDone`), none when
    // one is armed already, none waits, or no pending connection is within its grace.
    std::optional<MonoTime::duration> nextWeighing(MonoTime now);
    void weighingDone() { weighArmed_ = false; }

    // Cancels the away connections that have not said their first line, and the waiting away
    // newcomers, and forgets them.
    void dropAway();
    // Cancels every pending connection and waiting newcomer and forgets them.
    void closeAll();

    ClientTable& pending() { return pending_; }
    const ClientTable& pending() const { return pending_; }
    const std::deque<Newcomer>& waiting() const { return waiting_; }
    ThrottleTable& throttles() { return throttles_; }
    const ThrottleTable& throttles() const { return throttles_; }

private:
    ClientPtr makeRoomFor(const std::string& source, MonoTime now);

    ClientTable pending_;
    // Newcomers accepted but not started, oldest first: while every slot is taken by connections
    // that may not give way, or while their source's own waiting connections are within their
    // grace. Each is started when a slot frees or its source's turn comes.
    std::deque<Newcomer> waiting_;
    bool weighArmed_ = false;  // a timer will weigh the waiting newcomers again
    ThrottleTable throttles_;
    std::uint64_t accepted_ = 0;  // connections accepted so far: orders the pending ones by age
};

}  // namespace quib
