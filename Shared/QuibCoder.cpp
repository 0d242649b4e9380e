#include "Shared/QuibCoder.hpp"

namespace quib {

Mutex& QuibCoder::lock() {
    static Mutex mutex;
    return mutex;
}

std::string QuibCoder::dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

}  // namespace quib
