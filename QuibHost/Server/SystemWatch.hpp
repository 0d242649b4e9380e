#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "Platform/InterfaceWatch.hpp"
#include "Platform/SleepWatch.hpp"
#include "QuibHost/Connection/NetworkQueue.hpp"
#include "QuibHost/Server/NetworkInterfaces.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/InterfaceList.hpp"

namespace quib {

// What the server is told about the computer: sleep and wake, and changes of the set of active
// network interfaces, with the interface addresses kept between the watch's reports. A burst of
// interface reports is judged once none came for interfaceSettle; the same names, in any order,
// change nothing.
//
// Threads: made and begun on the main executor. The sleep watch reports on its own thread. The
// interface watch, the settle timer and the known names belong to the network queue it is begun
// with, as does `stop`; the interface lists may be read from any thread.
class SystemWatch {
public:
    // A burst of network-change reports is over once none came for this long.
    static constexpr std::chrono::milliseconds interfaceSettle{100};

    // Either watch may be missing: then sleep, wake or network changes go unnoticed. Without an
    // interface list, the watch keeps one of its own.
    SystemWatch(std::shared_ptr<SleepWatch> sleep, std::shared_ptr<InterfaceWatch> interfaces,
                std::shared_ptr<InterfaceList> interfaceList);

    // Main executor, once. `sleepChanged` is called on the sleep watch's thread, with true
    // before the computer sleeps and false when it wakes; the first delay of sleep is taken
    // now. `interfacesChanged` is called on `network` once a settled burst of reports shows
    // another set of interfaces than the one read now.
    void begin(NetworkQueue& network, std::function<void(bool goingToSleep)> sleepChanged,
               std::function<void()> interfacesChanged);
    // Network queue: no more interface reports.
    void stop();

    // Any thread, after a sleepChanged: let the computer sleep, or hold the next sleep back.
    void allowSleep();
    void delaySleep();

    // The interfaces of log lines.
    NetworkInterfaces& networkInterfaces() { return networkInterfaces_; }

private:
    void reported();
    void compare();

    const std::shared_ptr<SleepWatch> sleep_;
    const std::shared_ptr<InterfaceWatch> interfaces_;
    const std::shared_ptr<InterfaceList> interfaceList_;
    NetworkInterfaces networkInterfaces_;  // for log lines, kept while the watch reports changes

    // Network queue.
    NetworkQueue* network_ = nullptr;
    std::function<void()> interfacesChanged_;
    std::optional<std::set<std::string>> knownInterfaces_;
    Cancellable settleTimer_;
};

}  // namespace quib
