// The menus of the simulated desktop's apps: fixture trees per process, read under the trust
// switch, each read costing time on the desktop's clock.

#include <algorithm>

#include "Platform/Simulated/SimulatedDesktop.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {
namespace {

// One node of a bar handed out to a reader. It keeps the whole tree it belongs to, so a later
// change of the app's menus does not pull it away mid-walk.
class SimulatedMenuElement final : public MenuReader::Element {
public:
    using Node = SimulatedDesktop::MenuNode;

    // `read` counts one read and says whether it came back in time.
    SimulatedMenuElement(std::shared_ptr<const Node> tree, const Node& node, std::function<bool()> read)
        : tree_(std::move(tree)), node_(node), read_(std::move(read)) {}

    std::vector<std::shared_ptr<Element>> children() override {
        if (!read_()) return {};
        std::vector<std::shared_ptr<Element>> out;
        for (const Node& child : node_.children)
            out.push_back(std::make_shared<SimulatedMenuElement>(tree_, child, read_));
        return out;
    }
    std::optional<std::string> title() override { return read(node_.title); }
    std::optional<std::string> commandCharacter() override { return read(node_.commandCharacter); }
    std::optional<std::int64_t> commandVirtualKey() override { return read(node_.commandVirtualKey); }
    std::optional<std::int64_t> commandModifiers() override { return read(node_.commandModifiers); }

private:
    template <class T>
    std::optional<T> read(const std::optional<T>& attribute) {
        return read_() ? attribute : std::nullopt;
    }

    std::shared_ptr<const Node> tree_;
    const Node& node_;
    std::function<bool()> read_;
};

}  // namespace

void SimulatedDesktop::setMenuBar(std::int64_t processID, std::optional<MenuNode> bar) {
    MutexLock lock(mutex_);
    if (bar) menuBars_[processID] = std::make_shared<const MenuNode>(std::move(*bar));
    else menuBars_.erase(processID);
}

void SimulatedDesktop::setMenuReadCost(Duration cost) {
    MutexLock lock(mutex_);
    menuReadCost_ = cost;
}

void SimulatedDesktop::setSystemMenuFirst(bool first) {
    MutexLock lock(mutex_);
    systemMenuFirst_ = first;
}

std::size_t SimulatedDesktop::menuReads() const {
    MutexLock lock(mutex_);
    return menuReads_;
}

bool SimulatedDesktop::isTrusted() {
    MutexLock lock(mutex_);
    return trusted_;
}

bool SimulatedDesktop::firstTopLevelItemIsSystemMenu() {
    MutexLock lock(mutex_);
    return systemMenuFirst_;
}

std::shared_ptr<MenuReader::Element> SimulatedDesktop::menuBar(std::int64_t processID, Duration messagingTimeout) {
    if (!readMenu(messagingTimeout)) return nullptr;
    std::shared_ptr<const MenuNode> bar;
    {
        MutexLock lock(mutex_);
        const auto found = menuBars_.find(processID);
        if (found == menuBars_.end()) return nullptr;
        bar = found->second;
    }
    auto read = [self = shared_from_this(), messagingTimeout] { return self->readMenu(messagingTimeout); };
    return std::make_shared<SimulatedMenuElement>(bar, *bar, std::move(read));
}

// The time passes outside the lock: advancing the clock may fire a launch, which takes it.
bool SimulatedDesktop::readMenu(Duration messagingTimeout) {
    Duration cost;
    {
        MutexLock lock(mutex_);
        ++menuReads_;
        cost = menuReadCost_;
    }
    if (cost > Duration::zero())
        if (auto clock = std::dynamic_pointer_cast<FakeClock>(clock_)) clock->advance(std::min(cost, messagingTimeout));
    return cost <= messagingTimeout;
}

}  // namespace quib
