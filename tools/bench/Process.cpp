#include "Process.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vk9::bench {

namespace {

using Clock = std::chrono::steady_clock;

} // namespace

double statusKiB(pid_t pid, const std::string& key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + ":", 0) == 0) {
            return std::atof(line.c_str() + key.size() + 1);
        }
    }
    return 0;
}

// CPU nanoseconds and voluntary switches, summed over every thread.
std::pair<double, double> threadTotals(pid_t pid) {
    double cpuNs = 0;
    double switches = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (dir == nullptr) {
        return {0, 0};
    }
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        const std::string base = tasks + "/" + entry->d_name;
        std::ifstream sched(base + "/schedstat");
        double onCpu = 0;
        sched >> onCpu;
        cpuNs += onCpu;
        std::ifstream status(base + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
                switches += std::atof(line.c_str() + 24);
            }
        }
    }
    closedir(dir);
    return {cpuNs, switches};
}

std::optional<ProcessFigures> measureProcess(const std::string& program,
                                             const std::vector<std::string>& environment,
                                             std::chrono::milliseconds idleSpan) {
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    if (x == nullptr || xcb_connection_has_error(x)) {
        return std::nullopt;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);

    std::vector<std::string> envStrings;
    const auto overridden = [&](const char* entry) {
        // The benchmark itself runs offscreen; the measured program must use the display.
        if (std::strncmp(entry, "QT_QPA_PLATFORM=", 16) == 0) {
            return true;
        }
        return std::any_of(environment.begin(), environment.end(), [&](const std::string& e) {
            const auto name = e.substr(0, e.find('=') + 1);
            return std::strncmp(entry, name.c_str(), name.size()) == 0;
        });
    };
    for (char** e = environ; *e != nullptr; ++e) {
        if (!overridden(*e)) {
            envStrings.emplace_back(*e);
        }
    }
    envStrings.insert(envStrings.end(), environment.begin(), environment.end());
    std::vector<char*> envp;
    for (auto& s : envStrings) {
        envp.push_back(s.data());
    }
    envp.push_back(nullptr);
    std::string path = program;
    char* argv[] = {path.data(), nullptr};

    pid_t pid = 0;
    const Clock::time_point spawned = Clock::now();
    if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, envp.data()) != 0) {
        xcb_disconnect(x);
        return std::nullopt;
    }
    ProcessFigures figures;
    bool mapped = false;
    const Clock::time_point giveUp = spawned + std::chrono::seconds(20);
    while (!mapped && Clock::now() < giveUp) {
        xcb_generic_event_t* event = xcb_poll_for_event(x);
        if (event == nullptr) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
            continue;
        }
        const bool isMap = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
        const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
        if (isMap && map->override_redirect == 0) {
            figures.startUpMs =
                std::chrono::duration<double, std::milli>(Clock::now() - spawned).count();
            mapped = true;
        }
        std::free(event);
    }
    xcb_disconnect(x);
    if (mapped) {
        std::this_thread::sleep_for(std::chrono::seconds(2)); // settle
        figures.residentKiB = statusKiB(pid, "VmRSS");
        figures.anonymousKiB = statusKiB(pid, "RssAnon");
        const auto [cpu0, sw0] = threadTotals(pid);
        std::this_thread::sleep_for(idleSpan);
        const auto [cpu1, sw1] = threadTotals(pid);
        figures.idleCpuMs = (cpu1 - cpu0) / 1e6;
        figures.wakeUps = sw1 - sw0;
    }
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    return mapped ? std::optional(figures) : std::nullopt;
}

} // namespace vk9::bench
