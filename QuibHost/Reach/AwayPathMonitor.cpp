#include "QuibHost/Reach/AwayPathMonitor.hpp"

#include <net/route.h>

#include <algorithm>
#include <charconv>
#include <sstream>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>

#include "QuibHost/Reach/GatewayFinder.hpp"
#include "QuibHost/Reach/PublicAddress.hpp"
#include "Runtime/RegularFile.hpp"
#include "Runtime/WorkerThread.hpp"

namespace quib {
namespace {

constexpr std::uintmax_t maxRouteTable = 4 * 1024 * 1024;

template <class Strings>
std::string joined(const Strings& strings) {
    std::string text;
    for (const auto& s : strings) {
        if (!text.empty()) text += ",";
        text += s;
    }
    return text;
}

std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> found;
    std::size_t at = 0;
    while ((at = line.find_first_not_of(" \t\r", at)) != std::string_view::npos) {
        const std::size_t end = std::min(line.find_first_of(" \t\r", at), line.size());
        found.push_back(line.substr(at, end - at));
        at = end;
    }
    return found;
}

}  // namespace

// The io_context and its thread. Timers that fire after the monitor is gone find it expired.
struct AwayPathMonitor::Shared {
    asio::io_context io{1};
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work{asio::make_work_guard(io)};
    std::function<void(std::string)> update;  // on the thread
    std::uint64_t burst = 0;                  // on the thread
    std::optional<WorkerThread> thread;
};

AwayPathMonitor::AwayPathMonitor(std::shared_ptr<InterfaceWatch> watch, std::shared_ptr<Clock> clock)
    : watch_(std::move(watch)), clock_(std::move(clock)), shared_(std::make_shared<Shared>()) {
    shared_->thread.emplace(label, [io = &shared_->io] { io->run(); });
}

// The watch lets go of the io_context on its thread; with the work guard gone, run() then
// returns once nothing is left to do.
AwayPathMonitor::~AwayPathMonitor() {
    if (watch_) asio::post(shared_->io, [watch = watch_] { watch->stop(); });
    shared_->work.reset();
    shared_->thread->join();
}

void AwayPathMonitor::start(std::function<void(std::string)> update) {
    asio::post(shared_->io, [this, update = std::move(update)] {
        if (watch_) watch_->stop();
        shared_->update = update;
        ++shared_->burst;
        deliver();
        if (watch_) watch_->start(shared_->io, [this] { changed(); });
    });
}

// Each message starts the quiet time again; only the last of a burst delivers.
void AwayPathMonitor::changed() {
    const std::uint64_t burst = ++shared_->burst;
    clock_->scheduleAfter(quiet, [weak = std::weak_ptr<Shared>(shared_), burst, this] {
        auto shared = weak.lock();
        if (!shared) return;
        asio::post(shared->io, [weak, burst, this] {
            auto shared = weak.lock();
            if (shared && shared->burst == burst) deliver();
        });
    });
}

void AwayPathMonitor::deliver() {
    if (shared_->update) shared_->update(currentSignature());
}

std::string AwayPathMonitor::currentSignature() {
    return signature(InterfaceAddresses::list(), readRegularFile("/proc/net/route", maxRouteTable).value_or(""),
                     readRegularFile("/proc/net/ipv6_route", maxRouteTable).value_or(""));
}

std::string AwayPathMonitor::signature(const std::vector<InterfaceAddresses::Entry>& entries,
                                       std::string_view ipv4Routes, std::string_view ipv6Routes) {
    const auto links = InterfaceAddresses::activeNames(entries);
    const bool satisfied = hasDefaultIPv4Route(ipv4Routes) || hasDefaultIPv6Route(ipv6Routes);
    const auto own = PublicAddress::interfaces(entries);
    std::vector<std::string> addresses = own.local;
    addresses.insert(addresses.end(), own.global.begin(), own.global.end());
    std::sort(addresses.begin(), addresses.end());
    return joined(links) + "|" + (satisfied ? "satisfied" : "unsatisfied") + "|" + joined(addresses);
}

bool AwayPathMonitor::hasDefaultIPv4Route(std::string_view table) {
    const auto routes = GatewayFinder::parseRoutes(table);
    return std::any_of(routes.begin(), routes.end(), [](const GatewayFinder::Route& route) {
        return route.destination == 0 && route.mask == 0 && (route.flags & RTF_UP) != 0;
    });
}

// Rows: destination, its prefix length, source, its prefix length, next hop, metric, reference
// count, use, flags, link; numbers in hexadecimal.
bool AwayPathMonitor::hasDefaultIPv6Route(std::string_view table) {
    std::istringstream lines{std::string(table)};
    std::string line;
    while (std::getline(lines, line)) {
        const auto row = fields(line);
        if (row.size() < 10 || row[0] != std::string(32, '0') || row[1] != "00") continue;
        std::uint32_t flags = 0;
        const auto [end, error] = std::from_chars(row[8].data(), row[8].data() + row[8].size(), flags, 16);
        if (error != std::errc{}) continue;
        if ((flags & RTF_UP) != 0 && (flags & RTF_REJECT) == 0) return true;
    }
    return false;
}

}  // namespace quib
