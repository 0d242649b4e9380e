#pragma once

#include <memory>

#include "Runtime/Clock.hpp"
#include "Runtime/SerialQueue.hpp"

namespace quib {

// The server's serial queues besides the network queue: injection (deliveries, target
// resolution, tmux, window raising), menu, catalog (the app catalog and window lists) and the
// advertiser's calls, which may wait on a system daemon and so never hold up the network queue.
// The injection and menu queues carry the labels the router's and the menu catalog's services
// name, by which those objects, made before the server, assert that they are on them.
//
// Threads: the queues take work from any thread. `finishWork` belongs to the server's
// destructor, while the network queue, to which their tasks may still send, runs on.
class ServerQueues {
public:
    explicit ServerQueues(const std::shared_ptr<Clock>& clock);

    SerialQueue& injection() { return *injection_; }
    SerialQueue& menu() { return *menu_; }
    SerialQueue& catalog() { return *catalog_; }
    SerialQueue& advertise() { return *advertise_; }

    // Lets the work still queued for the catalog, menus and deliveries finish, in that order,
    // and ends those queues; the advertiser's queue stays until this is destroyed.
    void finishWork();

private:
    std::unique_ptr<SerialQueue> injection_;
    std::unique_ptr<SerialQueue> menu_;
    std::unique_ptr<SerialQueue> catalog_;
    std::unique_ptr<SerialQueue> advertise_;
};

}  // namespace quib
