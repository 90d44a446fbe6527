// vk9rsc: the panel. The command line names the lines and the traffic log; --help,
// --version and --list-ports answer without a window.
#include "Form1.h"
#include "io/UnixSignals.h"
#include "transport/PortNames.h"
#include "transport/SerialSettings.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <variant>

namespace {

constexpr int kUsageError = 2;

// Standard output that cannot be written (a full disk) is told, and the exit status is 1.
int finishOutput() {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "vk9rsc: standard output: %s\n", std::strerror(errno));
        return 1;
    }
    return 0;
}

// The stable names of the machine's serial devices (/dev/serial/by-id/), by real path: they
// stay the same whichever USB socket an adapter is in, and whatever was plugged in first.
std::multimap<QString, QString> stableNames() {
    std::multimap<QString, QString> names;
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files, QDir::Name)) {
        names.emplace(link.canonicalFilePath(), link.absoluteFilePath());
    }
    return names;
}

void listPorts(const std::array<std::string, 2>& devices, const vk9::LinesFile& file) {
    const auto stable = stableNames();
    const auto ports = QSerialPortInfo::availablePorts();
    std::printf("Serial ports on this machine:\n");
    for (const QSerialPortInfo& info : ports) {
        QStringList about{info.systemLocation()};
        for (const QString& known : {info.description(), info.manufacturer()}) {
            if (!known.isEmpty()) {
                about << known;
            }
        }
        if (!info.serialNumber().isEmpty()) {
            about << "serial number " + info.serialNumber();
        }
        std::printf("  %s\n", qPrintable(about.join(QStringLiteral(", "))));
        const auto [from, to] = stable.equal_range(info.systemLocation());
        for (auto it = from; it != to; ++it) {
            std::printf("    stable name: %s\n", qPrintable(it->second));
        }
    }
    if (ports.isEmpty()) {
        std::printf("  none that it lists\n");
    }
    for (const int number : {1, 2}) {
        const vk9::NamedLine line =
            vk9::lineForPort(number, devices.at(number - 1),
                             std::getenv(vk9::portVariable(number).c_str()), file, false);
        std::printf("Port %d (\"COM%d\"): %s (%s)\n", number, number, line.device.c_str(),
                    line.origin.empty() ? "the default" : ("from " + line.origin).c_str());
    }
    if (!file.error.empty()) {
        std::printf("The lines file is not used: %s\n", file.error.c_str());
    }
}

// The options for the window, or the exit status when there is to be no window.
std::variant<vk9::qt::LaunchOptions, int> parse(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Remote-control panel for video projectors on a serial line.\n\n"
        "A DEVICE is a serial device (/dev/ttyUSB0, COM3), a serial line behind a network\n"
        "device server: tcp://HOST:PORT (raw TCP) or rfc2217://HOST:PORT (Telnet with the COM\n"
        "port option), or a line shared through vk9gate: gate://HOST:PORT. Without --com1 or --com2, VK9RSC_COM1 and VK9RSC_COM2 name them, else\n"
        "com1 and com2 in the lines file ($XDG_CONFIG_HOME/vk9rsc/lines.toml, else\n"
        "~/.config/vk9rsc/lines.toml, else /etc/vk9rsc/lines.toml), else /dev/ttyS0 and\n"
        "/dev/ttyS1.\n\n"
        "Exit status: 0 ended by END, the window's close button or a signal; 1 no display,\n"
        "or standard output that could not be written; 2 a usage error.");
    const QCommandLineOption com1("com1", "The line of port 1 (\"COM1\").", "DEVICE");
    const QCommandLineOption com2("com2", "The line of port 2 (\"COM2\").", "DEVICE");
    const QCommandLineOption log("log", "Append every frame sent and every reply received to FILE.",
                                 "FILE");
    const QCommandLineOption list("list-ports",
                                  "List the serial ports of this machine with their stable "
                                  "names, and the lines of ports 1 and 2.");
    const QCommandLineOption help({"h", "help"}, "Show this help.");
    const QCommandLineOption version({"v", "version"}, "Show the version.");
    parser.addOptions({com1, com2, log, list, help, version});
    const auto usageError = [&](const QString& reason) {
        std::fprintf(stderr, "vk9rsc: %s\n\n%s", qPrintable(reason), qPrintable(parser.helpText()));
        return kUsageError;
    };
    if (!parser.parse(arguments)) {
        return usageError(parser.errorText());
    }
    if (!parser.positionalArguments().isEmpty()) {
        return usageError("unexpected argument " + parser.positionalArguments().constFirst());
    }
    if (parser.isSet(help)) {
        std::printf("%s", qPrintable(parser.helpText()));
        return finishOutput();
    }
    if (parser.isSet(version)) {
        std::printf("vk9rsc %s\n", qPrintable(QCoreApplication::applicationVersion()));
        return finishOutput();
    }
    vk9::qt::LaunchOptions options;
    options.linesFile = vk9::findLinesFile();
    for (const auto* option : {&com1, &com2}) {
        if (!parser.isSet(*option)) {
            continue;
        }
        const std::string device = parser.value(*option).toStdString();
        if (const auto parsed = vk9::parseLineAddress(device); !parsed.address) {
            return usageError(QString::fromStdString(parsed.error));
        }
        options.devices.at(option == &com1 ? 0 : 1) = device;
    }
    if (parser.isSet(list)) {
        listPorts(options.devices, options.linesFile);
        return finishOutput();
    }
    if (!options.linesFile.error.empty()) {
        std::fprintf(stderr, "vk9rsc: %s; the lines file is not used\n",
                     options.linesFile.error.c_str());
    }
    options.trafficLog = parser.value(log);
    return options;
}

// Whether the platform Qt will pick can show a window. Without a display Qt aborts, with
// advice to reinstall it; the operator is better told what is missing.
bool displayReachable() {
    const bool x = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const QString platforms = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (platforms.isEmpty()) {
        return x || wayland;
    }
    for (const QString& platform : platforms.split(';')) {
        const QString name = platform.section(':', 0, 0);
        if ((name == "xcb" && x) || (name.startsWith("wayland") && wayland) ||
            (name != "xcb" && !name.startsWith("wayland"))) {
            return true; // offscreen, vnc and the like need no display
        }
    }
    return false;
}

// Qt ends the program when its platform cannot start (an X server that cannot be reached, a
// Wayland session without Qt's plugin): while the application starts, its messages are
// held, and a fatal one becomes our one line and exit status 1.
QStringList g_startMessages;

void holdStartMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type != QtFatalMsg) {
        g_startMessages << message;
        return;
    }
    QStringList why; // "no Wayland plugin", "cannot connect to display :198"
    for (const QString& said : std::as_const(g_startMessages)) {
        if (said.contains(QStringLiteral("plugin \"wayland\""))) {
            why << QStringLiteral("Qt has no Wayland plugin here (Debian: qt6-wayland)");
        } else if (said.contains(QStringLiteral("connect to display"))) {
            const QString display = qEnvironmentVariable("DISPLAY");
            why << (display.isEmpty() ? QStringLiteral("DISPLAY is not set")
                                      : "cannot connect to X display " + display);
        }
    }
    why << QString(); // the advice follows
    std::fprintf(stderr,
                 "vk9rsc: no display: %sset DISPLAY or WAYLAND_DISPLAY, or "
                 "QT_QPA_PLATFORM=offscreen\n",
                 qPrintable(why.join(QStringLiteral("; "))));
    std::fflush(stderr);
    std::_Exit(1);
}

} // namespace

int main(int argc, char* argv[]) {
    std::variant<vk9::qt::LaunchOptions, int> parsed;
    { // no display is needed to answer --help, --version or --list-ports
        QCoreApplication console(argc, argv);
        QCoreApplication::setApplicationVersion(QStringLiteral(VK9RSC_VERSION));
        parsed = parse(QCoreApplication::arguments());
    }
    if (const int* status = std::get_if<int>(&parsed)) {
        return *status;
    }
    if (!displayReachable()) {
        std::fprintf(stderr, "vk9rsc: no display: set DISPLAY or WAYLAND_DISPLAY, or "
                             "QT_QPA_PLATFORM=offscreen\n");
        return 1;
    }
    const QtMessageHandler usual = qInstallMessageHandler(holdStartMessages);
    QApplication app(argc, argv);
    qInstallMessageHandler(usual);
    for (const QString& said : std::as_const(g_startMessages)) {
        qWarning("%s", qPrintable(said));
    }
    vk9::qt::prepareApplication(app);
    vk9::qt::Form1 form(std::get<vk9::qt::LaunchOptions>(parsed));
    // A logout, systemctl stop or kill ends the panel as "END" does: the hold released, the
    // line closed with its lock, the traffic log written out.
    const vk9::qt::UnixSignals ending({SIGTERM, SIGINT, SIGHUP}, [&form](int) { form.close(); });
    form.show();
    return QApplication::exec();
}
