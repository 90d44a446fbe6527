// vk9rsc: the panel. The command line names the lines and the traffic log; --help,
// --version and --list-ports answer without a window.
#include "Form1.h"
#include "UnixSignals.h"
#include "line/LineSettings.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSerialPortInfo>

#include <csignal>
#include <cstdio>
#include <variant>

namespace {

constexpr int kUsageError = 2;

void listPorts() {
    const auto ports = QSerialPortInfo::availablePorts();
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
        std::printf("%s\n", qPrintable(about.join(QStringLiteral(", "))));
    }
    if (ports.isEmpty()) {
        std::fprintf(stderr, "vk9rsc: this machine lists no serial ports\n");
    }
}

// The options for the window, or the exit status when there is to be no window.
std::variant<vk9::qt::LaunchOptions, int> parse(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Remote-control panel for video projectors on a serial line.\n\n"
        "A DEVICE is a serial device (/dev/ttyUSB0, COM3), or a serial line behind a network\n"
        "device server: tcp://HOST:PORT (raw TCP) or rfc2217://HOST:PORT (Telnet with the COM\n"
        "port option). Without --com1 or --com2, VK9RSC_COM1 and VK9RSC_COM2 name them, else\n"
        "/dev/ttyS0 and /dev/ttyS1.");
    const QCommandLineOption com1("com1", "The line of port 1 (\"COM1\").", "DEVICE");
    const QCommandLineOption com2("com2", "The line of port 2 (\"COM2\").", "DEVICE");
    const QCommandLineOption log("log", "Append every frame sent and every reply received to FILE.",
                                 "FILE");
    const QCommandLineOption list("list-ports", "List the serial ports of this machine.");
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
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("vk9rsc %s\n", qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }
    if (parser.isSet(list)) {
        listPorts();
        return 0;
    }
    vk9::qt::LaunchOptions options;
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
    QApplication app(argc, argv);
    vk9::qt::prepareApplication(app);
    vk9::qt::Form1 form(std::get<vk9::qt::LaunchOptions>(parsed));
    // A logout, systemctl stop or kill ends the panel as "END" does: the hold released, the
    // line closed with its lock, the traffic log written out.
    const vk9::qt::UnixSignals ending({SIGTERM, SIGINT, SIGHUP}, [&form](int) { form.close(); });
    form.show();
    return QApplication::exec();
}
