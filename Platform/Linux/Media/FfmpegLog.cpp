#include "Platform/Linux/Media/FfmpegLog.hpp"

#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

namespace quib {

void quietFfmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_ERROR); });
}

}  // namespace quib
