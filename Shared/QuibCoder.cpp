#include "Shared/QuibCoder.hpp"

namespace quib {

// It serialises the converters' work, which keeps no state of the coder's own: there is no
// member to mark GUARDED_BY it.
Mutex& QuibCoder::lock() {
    static Mutex mutex;
    return mutex;
}

std::string QuibCoder::dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

}  // namespace quib
