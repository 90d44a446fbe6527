// vk9gate: one owner for a projector line, shared by the panel, scripts and every other
// client. Exit status: 0 ended by SIGTERM or SIGINT; 2 bad usage or configuration; 3 the
// line could not be opened at start (without --keep-trying); 4 a listening address could not be
// had at start (without --keep-trying).
#include "Gate.h"
#include "Log.h"
#include "WebListener.h"
#include "io/UnixSignals.h"
#include "vk9gate/core/Config.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>

using namespace vk9::gate;

namespace {

constexpr int kUsageError = 2;

int usageError(const std::string& reason) {
    std::fprintf(stderr, "vk9gate: %s\nTry 'vk9gate --help'\n", reason.c_str());
    return kUsageError;
}

int finishOutput() {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "vk9gate: standard output: %s\n", std::strerror(errno));
        return 1;
    }
    return 0;
}

int configErrors(const std::vector<std::string>& errors) {
    for (const std::string& e : errors) {
        std::fprintf(stderr, "vk9gate: %s\n", e.c_str());
    }
    return kUsageError;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vk9gate"));
    std::signal(SIGPIPE, SIG_IGN);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "One owner for a projector line, shared safely by the panel, scripts and every other\n"
        "client. Clients connect over TCP and speak the line's own language: vk9rsc --com1\n"
        "gate://127.0.0.1:4001, vk9ctl --port gate://127.0.0.1:4001 (told what became of each\n"
        "frame), or tcp://127.0.0.1:4001 as to a device server. A reply goes only to the\n"
        "client whose frame it answers, and a projector that does not answer holds the line\n"
        "for no one.\n\n"
        "LINE is a serial device, tcp://HOST:PORT or rfc2217://HOST:PORT.\n\n"
        "Exit status:\n"
        "  0  ended by SIGTERM or SIGINT (SIGHUP reopens the traffic log)\n"
        "  1  output that could not be written\n"
        "  2  bad usage or configuration\n"
        "  3  the line could not be opened at start (without --keep-trying)\n"
        "  4  a listening address could not be had at start (without --keep-trying; later,\n"
        "     it is tried again every 5 s while the rest serves)");
    const QCommandLineOption line("line", "The projectors' line.", "LINE");
    const QCommandLineOption listen("listen", "Where clients connect (127.0.0.1:4001).",
                                    "ADDRESS:PORT");
    const QCommandLineOption speed("speed", "19200 (default) or 9600 bit/s.", "BAUD");
    const QCommandLineOption allow("allow",
                                   "Beyond loopback, an address or network that may connect "
                                   "(192.0.2.0/24); once for each.",
                                   "SUBNET");
    const QCommandLineOption insecureOpen("insecure-open",
                                          "Beyond loopback, let anyone connect, knowingly.");
    const QCommandLineOption config("config", "Run as the TOML FILE says.", "FILE");
    const QCommandLineOption check("check", "Check FILE, then exit 0 if it is good, else 2.",
                                   "FILE");
    const QCommandLineOption keepTrying("keep-trying",
                                        "A line that does not open at start, or an address "
                                        "that cannot be listened on, is tried again until it "
                                        "is had, instead of exit status 3 or 4.");
    const QCommandLineOption log("log", "Append every frame and reply to FILE.", "FILE");
    const QCommandLineOption verbose("verbose", "A line on standard error per frame.");
    const QCommandLineOption help({"h", "help"}, "Show this help.");
    const QCommandLineOption version({"v", "version"}, "Show the version.");
    parser.addOptions({line, listen, speed, allow, insecureOpen, config, check, keepTrying, log,
                       verbose, help, version});
    if (!parser.parse(QCoreApplication::arguments())) {
        return usageError(parser.errorText().toStdString());
    }
    if (!parser.positionalArguments().isEmpty()) {
        return usageError("unexpected " + parser.positionalArguments().constFirst().toStdString());
    }
    if (parser.isSet(help)) {
        std::printf("%s", qPrintable(parser.helpText()));
        return finishOutput();
    }
    if (parser.isSet(version)) {
        std::printf("vk9gate %s\n", VK9RSC_VERSION);
        return finishOutput();
    }
    if (parser.isSet(check)) {
        for (const auto* other : {&line, &listen, &speed, &allow, &insecureOpen, &config,
                                  &keepTrying, &log, &verbose}) {
            if (parser.isSet(*other)) {
                return usageError("--" + other->names().constFirst().toStdString() +
                                  " goes without --check: the file is all it checks");
            }
        }
        const std::string file = parser.value(check).toStdString();
        const ReadConfig read = readGateConfig(file);
        if (!read.config) {
            return configErrors(read.errors);
        }
        if (const std::string tls = read.config->web ? tlsProblem(*read.config->web) : "";
            !tls.empty()) {
            return configErrors({file + ": " + tls});
        }
        std::printf("vk9gate: %s is good\n", file.c_str());
        return finishOutput();
    }

    GateConfig settings;
    if (parser.isSet(config)) {
        for (const auto* commandLine : {&line, &listen, &speed, &allow, &insecureOpen}) {
            if (parser.isSet(*commandLine)) {
                return usageError("--" + commandLine->names().constFirst().toStdString() +
                                  " goes without --config: the file names the line");
            }
        }
        ReadConfig read = readGateConfig(parser.value(config).toStdString());
        if (!read.config) {
            return configErrors(read.errors);
        }
        if (const std::string tls = read.config->web ? tlsProblem(*read.config->web) : "";
            !tls.empty()) {
            return configErrors({parser.value(config).toStdString() + ": " + tls});
        }
        settings = std::move(*read.config);
    } else {
        if (!parser.isSet(line)) {
            return usageError("no line: --line LINE, or --config FILE");
        }
        settings.line = parser.value(line).toStdString();
        if (parser.isSet(listen)) {
            const auto address = parseListenAddress(parser.value(listen).toStdString());
            if (!address) {
                return usageError("--listen " + parser.value(listen).toStdString() +
                                  ": ADDRESS:PORT, such as 127.0.0.1:4001");
            }
            settings.listen = *address;
        }
        if (parser.isSet(speed)) {
            if (parser.value(speed) != "19200" && parser.value(speed) != "9600") {
                return usageError("--speed " + parser.value(speed).toStdString() +
                                  ": 19200 or 9600");
            }
            settings.speed = parser.value(speed).toInt();
        }
        for (const QString& subnet : parser.values(allow)) {
            if (!isSubnet(subnet.toStdString())) {
                return usageError("--allow " + subnet.toStdString() +
                                  ": an address or a network, such as 192.0.2.0/24");
            }
            settings.allow.push_back(subnet.toStdString());
        }
        settings.insecureOpen = parser.isSet(insecureOpen);
        if (const auto errors = checkGateConfig(settings); !errors.empty()) {
            return usageError(errors.front());
        }
    }
    if (parser.isSet(log)) {
        settings.trafficLog = parser.value(log).toStdString();
    }

    const Log logger(parser.isSet(verbose));
    Gate gate(std::move(settings), logger);
    int status = 0;
    const auto end = [&](int code) {
        status = code;
        sd_notify(0, "STOPPING=1");
        gate.stop();
        QCoreApplication::exit(code);
    };
    const vk9::qt::UnixSignals ending({SIGTERM, SIGINT, SIGHUP}, [&](int number) {
        if (number == SIGHUP) {
            gate.reopenLogs();
            return;
        }
        logger.say(Log::Info, std::string("ending on SIG") + sigabbrev_np(number));
        end(0);
    });
    gate.onStatus([](const std::string& text) { sd_notifyf(0, "STATUS=%s", text.c_str()); });
    bool ended = false;
    gate.start(
        parser.isSet(keepTrying),
        [&](int code) {
            if (!std::exchange(ended, true)) {
                QMetaObject::invokeMethod(
                    &app, [&, code] { end(code); }, Qt::QueuedConnection);
            }
        },
        [] { sd_notify(0, "READY=1"); });
    // The watchdog is fed by a timer of the event loop, never by a thread of its own: a gate
    // whose loop no longer turns (stuck in a call) stops feeding it, and is restarted.
    QTimer watchdog;
    if (std::uint64_t usec = 0; sd_watchdog_enabled(0, &usec) > 0) {
        watchdog.setInterval(std::chrono::milliseconds(std::max<std::uint64_t>(usec / 2000, 1)));
        QObject::connect(&watchdog, &QTimer::timeout, [] { sd_notify(0, "WATCHDOG=1"); });
        sd_notify(0, "WATCHDOG=1");
        watchdog.start();
    }
    const int ran = QCoreApplication::exec();
    return status != 0 ? status : ran;
}
