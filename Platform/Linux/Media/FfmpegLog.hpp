#pragma once

namespace quib {

// Lowers FFmpeg's process-wide log to errors, once: its encoders report every session they open
// and their statistics each time one closes, at info level, on standard error.
void quietFfmpegLog();

}  // namespace quib
