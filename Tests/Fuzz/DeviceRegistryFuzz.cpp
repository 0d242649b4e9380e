// Loads the input as the stored list of approved devices (and, reversed, of revoked ones); the
// registry opens, keeps each device in at most one list, and stores what it holds.
#include <algorithm>
#include <string>

#include "FuzzSupport.hpp"
#include "QuibHost/Server/DeviceRegistry.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/MainLoop.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quib;
    fuzz::silenceLog();
    auto clock = std::make_shared<FakeClock>();
    auto main = std::make_shared<MainLoop>(clock);
    auto settings = Settings::inMemory();
    Bytes stored(data, data + size);
    (void)settings->setBytes(DeviceRegistry::approvedKey, stored);
    std::reverse(stored.begin(), stored.end());
    (void)settings->setBytes(DeviceRegistry::revokedKey, stored);

    auto registry = DeviceRegistry::create(main, settings, clock);
    for (const auto& device : registry->approved().value()) fuzz::require(!registry->isRevoked(device.id));
    (void)registry->approve("fuzz-device", "Fuzz");
    main->runPending();
    (void)registry->revoke(registry->approved().value().front().id);
    main->runPending();
    auto reopened = DeviceRegistry::create(main, settings, clock);
    fuzz::require(reopened->revokedIDs() == registry->revokedIDs());
    fuzz::require(reopened->approvedIDs() == registry->approvedIDs());
    return 0;
}
