// vk9sim: up to four projectors behind one serial line, on a pseudo-terminal.
//
// Usage: see kUsage below.
// Exit status: 0 stopped by a signal or the line dropped as asked; 1 no pseudo-terminal;
// 2 a usage error, a log that cannot be opened or a LINK that cannot be made.
#include "Simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

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
    long dropAfter = 0; // 0: never
};

struct Pending {
    std::int64_t atMs;
    std::string bytes;
};

constexpr std::int64_t kPartialTimeoutMs = 500; // a frame that never gets its CR
constexpr long kLongestMs = 3600000;            // an hour: any wait longer is a mistake

// A whole number from `least` to `most`, or nothing.
bool number(const std::string& text, long least, long most, long& out) {
    const bool digits = !text.empty() && text.find_first_not_of("-0123456789") == std::string::npos;
    if (!digits) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    out = std::strtol(text.c_str(), &end, 10);
    return end != text.c_str() && *end == '\0' && errno == 0 && out >= least && out <= most;
}

constexpr const char* kUsage =
    "usage: vk9sim [--projectors N] [--warm-up MS] [--cool-down MS] [--state N:SETTINGS]\n"
    "              [--no-reply] [--delay MS] [--split N:GAP] [--garbage N]\n"
    "              [--drop-after N] [--log FILE] [--help] [--version] LINK\n";

constexpr const char* kOptions =
    "\nUp to four projectors on one serial line, behind a pseudo-terminal.\n\n"
    "  LINK               where to make a symbolic link to the pseudo-terminal, for\n"
    "                     vk9rsc --com1. An existing path is never replaced, unless it\n"
    "                     is a stale link that a killed simulator left: one to a\n"
    "                     pseudo-terminal that no longer exists, or to the one this\n"
    "                     simulator has just been given\n"
    "  --projectors N     projectors on the line, 1 to 4 (4)\n"
    "  --warm-up MS       the count down after power on (5000)\n"
    "  --cool-down MS     cooling down after power off (5000)\n"
    "  --state N:SETTINGS projector N starts as SETTINGS says, for example\n"
    "                     2:power=on,input=3,hours=1500 (power: standby, on, countdown,\n"
    "                     cooling; input: 1 to 4; hours: 0 to 99999); may be repeated\n"
    "  --no-reply         never answer\n"
    "  --delay MS         answer this late (0)\n"
    "  --split N:GAP      send replies in pieces of N bytes, GAP ms apart\n"
    "  --garbage N        put N random bytes (128 to 255) before every reply\n"
    "  --drop-after N     the line goes away with the Nth frame, unanswered: the\n"
    "                     simulator closes it and ends\n"
    "  --log FILE         the frame log, appended to (standard error by default)\n"
    "  -h, --help         this help\n"
    "  -v, --version      the version\n"
    "\nExit status: 0 stopped by a signal, or the line dropped as asked; 1 no pseudo-terminal;\n"
    "2 a bad option, a log that cannot be opened, or a LINK that cannot be made.\n";

// Standard output that cannot be written (a full disk) is told, and the exit status is 1.
int finishOutput() {
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "vk9sim: standard output: " << std::strerror(errno) << "\n";
        return 1;
    }
    return 0;
}

// "power=on,input=3,hours=1500" applied to a projector; false for anything else.
bool applyState(const std::string& settings, Projector& p) {
    std::size_t start = 0;
    while (start <= settings.size()) {
        const auto comma = std::min(settings.find(',', start), settings.size());
        const std::string item = settings.substr(start, comma - start);
        const auto equals = item.find('=');
        if (equals == std::string::npos) {
            return false;
        }
        const std::string key = item.substr(0, equals);
        const std::string value = item.substr(equals + 1);
        long n = 0;
        static constexpr const char* kPowers[] = {"standby", "countdown", "on", "cooling"};
        const auto power = std::find(std::begin(kPowers), std::end(kPowers), value);
        if (key == "power" && power != std::end(kPowers)) {
            p.power = static_cast<Projector::Power>(power - std::begin(kPowers));
        } else if (key == "input" && number(value, 1, 4, n)) {
            p.input = int(n);
        } else if (key == "hours" && number(value, 0, 99999, n)) {
            p.lampHours = int(n);
        } else {
            return false;
        }
        start = comma + 1;
    }
    return true;
}

int usage(const std::string& reason) {
    std::cerr << "vk9sim: " << reason << "\n" << kUsage;
    return 2;
}

// Where a symbolic link points, or nothing when the path is not one.
std::string linkTarget(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    return n < 0 ? std::string() : std::string(target, std::size_t(n));
}

// A link that an earlier simulator left behind: to a pseudo-terminal that is gone, or to
// the one this simulator now holds (a simulator killed with SIGKILL leaves its link, and the
// system hands its terminal's number to the next one that asks).
bool staleLink(const std::string& path, const std::string& ours) {
    const std::string target = linkTarget(path);
    struct stat info {};
    return target.rfind("/dev/pts/", 0) == 0 &&
           (target == ours || ::stat(target.c_str(), &info) != 0);
}

// Makes the link, never over anything but a stale link; the reason when it cannot.
std::string makeLink(const std::string& target, const std::string& link) {
    if (::symlink(target.c_str(), link.c_str()) == 0) {
        return {};
    }
    int error = errno;
    if (error == EEXIST && staleLink(link, target)) {
        error =
            ::unlink(link.c_str()) == 0 && ::symlink(target.c_str(), link.c_str()) == 0 ? 0 : errno;
    }
    if (error == 0) {
        return {};
    }
    if (error == EEXIST) {
        return link + " exists, and is not a stale link of vk9sim's: choose another path";
    }
    return "cannot make the link " + link + ": " + std::strerror(error);
}

} // namespace

int main(int argc, char* argv[]) {
    Options options;
    Faults faults;
    std::vector<std::pair<int, std::string>> states; // --state, in order
    std::string link;
    std::string logPath;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool valued = arg == "--projectors" || arg == "--warm-up" || arg == "--cool-down" ||
                            arg == "--delay" || arg == "--split" || arg == "--garbage" ||
                            arg == "--drop-after" || arg == "--log" || arg == "--state";
        if (valued && i + 1 >= argc) {
            return usage(arg + ": a value is missing");
        }
        const std::string value = valued ? argv[++i] : std::string();
        const auto bad = [&](const std::string& what) {
            return usage(arg + " " + value + ": " + what);
        };
        long n = 0;
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage << kOptions;
            return finishOutput();
        } else if (arg == "--version" || arg == "-v") {
            std::cout << "vk9sim " << VK9RSC_VERSION << "\n";
            return finishOutput();
        } else if (arg == "--state") {
            const auto colon = value.find(':');
            if (colon == std::string::npos || !number(value.substr(0, colon), 1, 4, n)) {
                return bad("N:SETTINGS, N a projector 1 to 4");
            }
            states.emplace_back(int(n), value.substr(colon + 1));
        } else if (arg == "--no-reply") {
            faults.noReply = true;
        } else if (arg == "--projectors") {
            if (!number(value, 1, 4, n)) {
                return bad("1 to 4");
            }
            options.projectors = int(n);
        } else if (arg == "--warm-up" || arg == "--cool-down" || arg == "--delay") {
            if (!number(value, 0, kLongestMs, n)) {
                return bad("milliseconds, 0 to " + std::to_string(kLongestMs));
            }
            (arg == "--warm-up"     ? options.warmUpMs
             : arg == "--cool-down" ? options.coolDownMs
                                    : faults.delayMs) = n;
        } else if (arg == "--garbage") {
            if (!number(value, 0, 1024, n)) {
                return bad("0 to 1024 bytes");
            }
            faults.garbage = int(n);
        } else if (arg == "--drop-after") {
            if (!number(value, 1, LONG_MAX, n)) {
                return bad("1 frame or more");
            }
            faults.dropAfter = n;
        } else if (arg == "--split") {
            const auto colon = value.find(':');
            long gap = 0;
            if (colon == std::string::npos || !number(value.substr(0, colon), 1, 4096, n) ||
                !number(value.substr(colon + 1), 0, kLongestMs, gap)) {
                return bad("N:GAP, pieces of 1 to 4096 bytes, 0 to " + std::to_string(kLongestMs) +
                           " ms apart");
            }
            faults.pieceSize = std::size_t(n);
            faults.pieceGapMs = gap;
        } else if (arg == "--log") {
            if (value.empty()) {
                return bad("a file name");
            }
            logPath = value;
        } else if (!arg.empty() && arg[0] == '-') {
            return usage("unknown option " + arg);
        } else if (!link.empty()) {
            return usage("one LINK only: " + link + " or " + arg);
        } else {
            link = arg;
        }
    }
    if (link.empty()) {
        return usage("no LINK: the path for a link to the pseudo-terminal");
    }
    std::ofstream logFile;
    if (!logPath.empty()) {
        logFile.open(logPath, std::ios::app);
        if (!logFile) {
            return usage("--log " + logPath + ": " + std::strerror(errno));
        }
    }
    std::ostream& log = logPath.empty() ? std::cerr : logFile;

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
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    // Our own copy of the slave keeps the line up while the panel closes and reopens it.
    if (const std::string refused = makeLink(name, link); !refused.empty()) {
        std::cerr << "vk9sim: " << refused << "\n";
        return 2;
    }
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(number, [](int) { g_stop = 1; });
    }
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
    for (const auto& [n, settings] : states) {
        if (!applyState(settings, sim.projector(n))) {
            std::cerr << "vk9sim: --state " << n << ":" << settings
                      << ": power=standby|on|countdown|cooling, input=1..4, hours=0..99999\n"
                      << kUsage;
            return 2;
        }
    }
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
                    const bool dropping = faults.dropAfter > 0 && frames >= faults.dropAfter;
                    if (dropping) {
                        reply.clear(); // the line goes away with this frame: no answer
                        log << " (the line goes away)";
                    } else if (faults.noReply && !reply.empty()) {
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
                    if (dropping) {
                        out.clear();
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
            // The pseudo-terminal is non-blocking: when nobody reads the line and its buffer
            // is full, the reply is dropped rather than the simulator stopped.
            const std::string& bytes = out.front().bytes;
            if (::write(master, bytes.data(), bytes.size()) != ssize_t(bytes.size())) {
                log << nowUs() << " reply dropped: nobody reads the line" << std::endl;
            }
            out.pop_front();
        }
    }
    // Only our own link goes: another simulator may have taken the path since.
    if (linkTarget(link) == name) {
        ::unlink(link.c_str());
    }
    ::close(master);
    ::close(slave);
    return 0;
}
