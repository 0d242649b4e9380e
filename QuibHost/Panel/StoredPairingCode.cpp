#include "QuibHost/Panel/StoredPairingCode.hpp"

#include "Shared/PairingCode.hpp"
#include "Shared/QuibTransport.hpp"

namespace quib {

std::string StoredPairingCode::loadOrCreate(Settings& settings) {
    if (auto stored = settings.get(key); stored && PairingCode::isValid(*stored)) return *stored;
    std::string code = QuibTransport::newPairingCode();
    (void)settings.setString(key, code);  // a failure is logged by the settings
    return code;
}

}  // namespace quib
