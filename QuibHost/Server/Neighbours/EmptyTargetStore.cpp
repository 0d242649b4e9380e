#include "QuibHost/Server/Neighbours/EmptyTargetStore.hpp"

namespace quib {

EmptyTargetStore::EmptyTargetStore(std::shared_ptr<Executor> main)
    : targets_(main, {}), provisional_(main, {}), active_(main, std::nullopt), unresolved_(main, {}) {}

}  // namespace quib
