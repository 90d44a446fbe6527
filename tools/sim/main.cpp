// vk9sim: up to four projectors behind one serial line, on a pseudo-terminal.
//
// Usage: vk9sim [options] LINK
//   LINK                 path of a symbolic link to the pseudo-terminal, for VK9RSC_COM1
//   --projectors N       projectors on the line, 1 to 4 (default 4)
//   --warm-up MS         count down after power on (default 5000)
//   --cool-down MS       cooling down after power off (default 5000)
//   --no-reply           never answer
//   --delay MS           answer this late (default 0)
//   --split N:GAP        send replies in pieces of N bytes, GAP ms apart
//   --garbage N          put N random bytes (128 to 255) before every reply
//   --drop-after N       the line goes away after N frames: the simulator closes it and ends
//   --log FILE           frame log (default: standard error)
//   --help               this text, on standard output
#include "Simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <random>
#include <string>

using namespace vk9::sim;

namespace {

using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t g_stop = 0;

struct Faults {
    bool noReply = false;
    std::int64_t delayMs = 0;
    std::size_t pieceSize = 0; // 0: whole replies
    std::int64_t pieceGapMs = 0;
    int garbage = 0;
    long dropAfter = -1;
};

struct Pending {
    std::int64_t atMs;
    std::string bytes;
};

constexpr std::int64_t kPartialTimeoutMs = 500; // a frame that never gets its CR

constexpr const char* kUsage =
    "usage: vk9sim [--projectors N] [--warm-up MS] [--cool-down MS] [--no-reply]\n"
    "              [--delay MS] [--split N:GAP] [--garbage N] [--drop-after N]\n"
    "              [--log FILE] LINK\n";

int usage() {
    std::cerr << kUsage;
    return 2;
}

bool number(const char* text, long& out) {
    char* end = nullptr;
    out = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && out >= 0;
}

} // namespace

int main(int argc, char* argv[]) {
    Options options;
    Faults faults;
    std::string link;
    std::string logPath;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        long value = 0;
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--no-reply") {
            faults.noReply = true;
        } else if (arg == "--projectors" && hasValue && number(argv[++i], value) && value >= 1 &&
                   value <= 4) {
            options.projectors = int(value);
        } else if (arg == "--warm-up" && hasValue && number(argv[++i], value)) {
            options.warmUpMs = value;
        } else if (arg == "--cool-down" && hasValue && number(argv[++i], value)) {
            options.coolDownMs = value;
        } else if (arg == "--delay" && hasValue && number(argv[++i], value)) {
            faults.delayMs = value;
        } else if (arg == "--garbage" && hasValue && number(argv[++i], value)) {
            faults.garbage = int(value);
        } else if (arg == "--drop-after" && hasValue && number(argv[++i], value)) {
            faults.dropAfter = value;
        } else if (arg == "--split" && hasValue) {
            const std::string split = argv[++i];
            const auto colon = split.find(':');
            long size = 0;
            long gap = 0;
            if (colon == std::string::npos || !number(split.substr(0, colon).c_str(), size) ||
                !number(split.substr(colon + 1).c_str(), gap) || size == 0) {
                return usage();
            }
            faults.pieceSize = std::size_t(size);
            faults.pieceGapMs = gap;
        } else if (arg == "--log" && hasValue) {
            logPath = argv[++i];
        } else if (!arg.empty() && arg[0] != '-' && link.empty()) {
            link = arg;
        } else {
            return usage();
        }
    }
    if (link.empty()) {
        return usage();
    }

    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("vk9sim: openpty");
        return 1;
    }
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    // Our own copy of the slave keeps the line up while the panel closes and reopens it.
    ::unlink(link.c_str());
    if (::symlink(name, link.c_str()) != 0) {
        std::perror("vk9sim: symlink");
        return 1;
    }
    std::ofstream logFile;
    if (!logPath.empty()) {
        logFile.open(logPath, std::ios::app);
    }
    std::ostream& log = logPath.empty() ? std::cerr : logFile;
    std::signal(SIGINT, [](int) { g_stop = 1; });
    std::signal(SIGTERM, [](int) { g_stop = 1; });
    std::signal(SIGPIPE, SIG_IGN);

    const Clock::time_point start = Clock::now();
    const auto nowMs = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    };
    const auto nowUs = [&] {
        return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    };
    std::cout << "vk9sim: " << options.projectors << " projector(s) on " << name << " via " << link
              << std::endl;

    Simulator sim(options);
    std::deque<Pending> out;
    std::mt19937 random(std::random_device{}());
    long frames = 0;
    std::int64_t lastByteMs = 0;
    char buf[1024];
    while (!g_stop) {
        std::int64_t waitMs = 100;
        if (!out.empty()) {
            waitMs = std::max<std::int64_t>(0, out.front().atMs - nowMs());
        }
        if (sim.hasPartial()) {
            waitMs = std::min(waitMs,
                              std::max<std::int64_t>(0, lastByteMs + kPartialTimeoutMs - nowMs()));
        }
        pollfd pfd{master, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, int(waitMs));
        if (ready > 0 && (pfd.revents & POLLIN)) {
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) {
                lastByteMs = nowMs();
                for (const Answer& a : sim.feed(std::string(buf, std::size_t(n)), lastByteMs)) {
                    ++frames;
                    log << nowUs() << " rx " << (a.projector ? std::to_string(*a.projector) : "-")
                        << ' ' << printable(a.frame);
                    std::string reply = a.reply;
                    if (faults.noReply && !reply.empty()) {
                        reply.clear();
                        log << " (no reply: injected)";
                    } else if (!a.note.empty()) {
                        log << " (" << a.note << ')';
                    }
                    if (!reply.empty()) {
                        std::string garbage;
                        for (int g = 0; g < faults.garbage; ++g) {
                            garbage += static_cast<char>(128 + random() % 128);
                        }
                        reply = garbage + reply;
                        log << " -> " << printable(reply);
                        std::int64_t at = lastByteMs + faults.delayMs;
                        const std::size_t piece =
                            faults.pieceSize ? faults.pieceSize : reply.size();
                        for (std::size_t p = 0; p < reply.size(); p += piece) {
                            out.push_back({at, reply.substr(p, piece)});
                            at += faults.pieceGapMs;
                        }
                    }
                    log << std::endl;
                    if (faults.dropAfter >= 0 && frames >= faults.dropAfter) {
                        log << nowUs() << " line dropped after " << frames << " frames"
                            << std::endl;
                        g_stop = 1;
                        break;
                    }
                }
            }
        }
        if (sim.hasPartial() && nowMs() - lastByteMs >= kPartialTimeoutMs) {
            log << nowUs() << " rx - " << printable(*sim.abandonPartial())
                << " (no carriage return: dropped)" << std::endl;
        }
        while (!out.empty() && out.front().atMs <= nowMs()) {
            const std::string& bytes = out.front().bytes;
            [[maybe_unused]] const ssize_t n = ::write(master, bytes.data(), bytes.size());
            out.pop_front();
        }
    }
    ::close(master);
    ::close(slave);
    ::unlink(link.c_str());
    return 0;
}
