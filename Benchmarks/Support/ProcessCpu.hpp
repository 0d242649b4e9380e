#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace quib::bench {

// Seconds of CPU (user and system) a process has used so far, from /proc/<pid>/stat.
inline double cpuOf(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int index = 3; fields >> field && index <= 15; ++index)
        if (index == 14 || index == 15) ticks += std::stod(field);
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Seconds of CPU used so far by this process's children that still run (a kept tmux client,
// say); those it has reaped are counted in getrusage's RUSAGE_CHILDREN instead.
inline double liveChildrenCpu() {
    double seconds = 0;
    std::error_code ignored;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ignored)) {
        std::ifstream children(task.path() / "children");
        for (pid_t pid; children >> pid;) seconds += cpuOf(pid);
    }
    return seconds;
}

}  // namespace quib::bench
