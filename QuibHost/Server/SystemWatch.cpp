#include "QuibHost/Server/SystemWatch.hpp"

namespace quib {

SystemWatch::SystemWatch(std::shared_ptr<SleepWatch> sleep, std::shared_ptr<InterfaceWatch> interfaces,
                         std::shared_ptr<InterfaceList> interfaceList)
    : sleep_(std::move(sleep)),
      interfaces_(std::move(interfaces)),
      interfaceList_(interfaceList ? std::move(interfaceList) : std::make_shared<InterfaceList>()),
      networkInterfaces_([list = interfaceList_] { return list->entries(); }) {}

// The interface baseline is read here, when the watch starts: change reports only come once
// something changes, so the first one after this already compares against it.
void SystemWatch::begin(NetworkQueue& network, std::function<void(bool goingToSleep)> sleepChanged,
                        std::function<void()> interfacesChanged) {
    if (sleep_ && sleep_->start(std::move(sleepChanged))) sleep_->delaySleep();
    if (!interfaces_) return;
    network.post(
        [this, &network, baseline = interfaces_->activeNames(), changed = std::move(interfacesChanged)]() mutable {
            network_ = &network;
            interfacesChanged_ = std::move(changed);
            knownInterfaces_ = std::move(baseline);
            if (!interfaces_->start(network.context(), [this] { reported(); })) return;
            interfaceList_->keepUntilChanged();
            networkInterfaces_.keepUntilChanged();
        });
}

void SystemWatch::stop() {
    settleTimer_.cancel();
    if (interfaces_) interfaces_->stop();
}

void SystemWatch::allowSleep() { sleep_->allowSleep(); }

void SystemWatch::delaySleep() { sleep_->delaySleep(); }

// The interfaces of log lines are read again at once; a burst of reports is judged once it has
// settled.
void SystemWatch::reported() {
    interfaceList_->changed();
    networkInterfaces_.changed();
    settleTimer_.cancel();
    settleTimer_ = network_->postAfter(interfaceSettle, [this] { compare(); });
}

void SystemWatch::compare() {
    auto names = interfaces_->activeNames();
    if (knownInterfaces_ == names) return;
    knownInterfaces_ = std::move(names);
    interfacesChanged_();
}

}  // namespace quib
