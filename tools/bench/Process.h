#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace vk9::bench {

// A program started by the benchmark, watched from outside through /proc and the X server.
struct ProcessFigures {
    double startUpMs = 0;    // from the spawn to the first top-level window mapped
    double residentKiB = 0;  // VmRSS after settling
    double anonymousKiB = 0; // RssAnon: the part that is the program's own, not shared files
    double idleCpuMs = 0;    // CPU time of all threads over the idle span
    double wakeUps = 0;      // voluntary context switches of all threads over the idle span
};

// Starts the program with extra environment, waits for its window on $DISPLAY, lets it
// settle, then measures an idle span; the program is killed afterwards.
std::optional<ProcessFigures> measureProcess(const std::string& program,
                                             const std::vector<std::string>& environment,
                                             std::chrono::milliseconds idleSpan);

// A running process's figures from /proc: a field of its status in KiB (VmRSS), and its CPU
// nanoseconds and voluntary context switches summed over every thread.
double statusKiB(pid_t pid, const std::string& key);
std::pair<double, double> threadTotals(pid_t pid);

} // namespace vk9::bench
