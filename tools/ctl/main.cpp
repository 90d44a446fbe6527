// vk9ctl: the panel's commands for scripts. It opens the line the panel's port 1 would
// open (or the one named), sends frames built as the panel builds them, and decodes the
// replies to the status queries as the STATUS box shows them.
#include "QtSerialPort.h"
#include "adjust/Adjust.h"
#include "commands/Catalogue.h"
#include "model/Layout.h"
#include "model/Lookup.h"
#include "serial/Addressing.h"
#include "serial/PortChoice.h"
#include "traffic/ReplyDecoder.h"
#include "traffic/TrafficPath.h"
#include "traffic/TrafficText.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <optional>

using namespace vk9;

namespace {

constexpr int kFailed = 1;     // a reply missing or not understood
constexpr int kUsageError = 2; // or a line that does not open

int complain(const QString& message, int status) {
    std::fprintf(stderr, "vk9ctl: %s\n", qPrintable(message));
    return status;
}

QString text(std::string_view s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

// Every code a button of the panel sends.
bool panelSends(std::string_view code) {
    const auto has = [&](const auto& table) {
        return std::any_of(table.begin(), table.end(),
                           [&](const auto& r) { return r.code == code; });
    };
    return has(kOneShots) || has(kSelectors) || has(kHoldButtons);
}

// The prefix of the address option captioned "ALL" or "00N", for --address all or N.
std::optional<std::string_view> prefixFor(const QString& address) {
    const QString caption = address == "all" ? "ALL" : address.rightJustified(3, '0');
    for (const auto& option : kOptions) {
        if (text(option.caption) == caption) {
            if (const auto* row = findRow(kAddressOptions, option.id)) {
                return row->prefix;
            }
        }
    }
    return std::nullopt;
}

// One frame out, and what came back up to its carriage return or the deadline.
struct Exchange {
    qt::QtSerialPort& port;
    std::string prefix;
    int timeoutMs;

    std::optional<std::string> ask(std::string_view code) {
        (void)port.readAll(); // nothing left over from an earlier frame
        if (const auto written = port.write(commandFrame(prefix, code)); !written.ok) {
            complain(QString::fromStdString(written.message), kFailed);
            return std::nullopt;
        }
        std::string reply;
        QEventLoop loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        port.onReceived([&] {
            reply += port.readAll();
            if (reply.find('\r') != std::string::npos) {
                loop.quit();
            }
        });
        loop.exec();
        port.onReceived({});
        if (reply.empty()) {
            complain(QStringLiteral("no reply to %1 within %2 ms").arg(text(code)).arg(timeoutMs),
                     kFailed);
            return std::nullopt;
        }
        return reply;
    }
};

// The text the STATUS box would show for the reply to a query, or nothing.
std::optional<std::string> decoded(const Exchange& line, std::string_view code,
                                   const std::string& reply) {
    return decodeReply(trafficText(reply), commandFrame(line.prefix, code), line.prefix);
}

bool isQuery(std::string_view code) {
    return std::any_of(kQueries.begin(), kQueries.end(),
                       [&](const auto& q) { return q.code == code; });
}

// Sends one code. A query prints its decoded text; an operation wants an acknowledgement.
int sendOne(Exchange& line, std::string_view code, bool json) {
    const auto reply = line.ask(code);
    if (!reply) {
        return kFailed;
    }
    const auto message = isQuery(code) ? decoded(line, code, *reply) : std::nullopt;
    if (json) {
        QJsonObject out{{"code", text(code)}, {"reply", text(*reply)}};
        if (message) {
            out["text"] = text(*message);
        }
        std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
    } else if (message) {
        std::printf("%s\n", message->c_str());
    }
    const bool understood = isQuery(code) ? message.has_value() : reply->front() == '\x06';
    return understood
               ? 0
               : complain("reply to " + text(code) + " not understood:" + text(trafficText(*reply)),
                          kFailed);
}

// The six status queries in turn, each by the caption of its button.
int status(Exchange& line, bool json) {
    int result = 0;
    QJsonObject out;
    for (const auto& query : kQueries) {
        const auto* row = std::find_if(kOneShots.begin(), kOneShots.end(),
                                       [&](const auto& r) { return r.code == query.code; });
        const QString name = text(findRow(kButtons, row->id)->caption).toLower();
        const auto reply = line.ask(query.code);
        const auto message = reply ? decoded(line, query.code, *reply) : std::nullopt;
        if (!message) {
            result = kFailed;
            if (reply) {
                complain("reply to " + text(query.code) +
                             " not understood:" + text(trafficText(*reply)),
                         kFailed);
            }
        }
        if (json) {
            out[name] = QJsonObject{{"code", text(query.code)},
                                    {"reply", reply ? text(*reply) : QJsonValue()},
                                    {"text", message ? text(*message) : QJsonValue()}};
        } else {
            std::printf("%s\n", message ? message->c_str() : "");
        }
    }
    if (json) {
        std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
    }
    return result;
}

QString commandList() {
    QString list = "Commands:\n  status            the six status queries, decoded\n"
                   "  send CODE         any code the panel's buttons send\n";
    for (const auto& row : kOneShots) {
        list += QStringLiteral("  %1%2\n")
                    .arg(QString::fromStdString(commandName(row)).leftJustified(18))
                    .arg(text(row.code));
    }
    return list;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "The projector panel's commands for scripts. DEVICE is as for vk9rsc: a serial device,\n"
        "tcp://HOST:PORT or rfc2217://HOST:PORT; by default the panel's port 1.\n"
        "Exit status: 0 every reply came, 1 a reply missing or not understood, 2 a usage\n"
        "error or a line that does not open.");
    const QCommandLineOption port("port", "The line.", "DEVICE");
    const QCommandLineOption speed("speed", "19200 (default) or 9600 bit/s.", "BAUD", "19200");
    const QCommandLineOption address("address", "Projector 1, 2, 3, 4 or all; none by default.",
                                     "WHO");
    const QCommandLineOption json("json", "Print the results as JSON, with the raw replies.");
    const QCommandLineOption timeout("timeout", "Wait this long for each reply (500).", "MS",
                                     "500");
    const QCommandLineOption help({"h", "help"}, "Show this help and the commands.");
    parser.addOptions({port, speed, address, json, timeout, help});
    parser.addPositionalArgument("COMMAND", "status, send CODE, or a name below.");
    const auto usageError = [&](const QString& reason) {
        complain(reason, kUsageError);
        std::fprintf(stderr, "\n%s\n%s", qPrintable(parser.helpText()), qPrintable(commandList()));
        return kUsageError;
    };
    if (!parser.parse(QCoreApplication::arguments())) {
        return usageError(parser.errorText());
    }
    if (parser.isSet(help)) {
        std::printf("%s\n%s", qPrintable(parser.helpText()), qPrintable(commandList()));
        return 0;
    }
    const QStringList args = parser.positionalArguments();
    const auto settings = std::find_if(kSpeedOptions.begin(), kSpeedOptions.end(), [&](auto& r) {
        return text(r.settings).startsWith(parser.value(speed) + ",");
    });
    const auto prefix = parser.isSet(address) ? prefixFor(parser.value(address))
                                              : std::optional<std::string_view>("");
    bool numeric = false;
    const int timeoutMs = parser.value(timeout).toInt(&numeric);
    if (args.isEmpty() || settings == kSpeedOptions.end() || !prefix || !numeric ||
        timeoutMs <= 0) {
        return usageError(args.isEmpty() ? "no command" : "a bad --speed, --address or --timeout");
    }
    std::string code;
    const QString command = args.constFirst();
    if (command == "send" && args.size() == 2) {
        code = args[1].toStdString();
        if (!panelSends(code)) {
            return usageError("no button of the panel sends " + args[1]);
        }
    } else if (command != "status" || args.size() != 1) {
        const auto* row = std::find_if(kOneShots.begin(), kOneShots.end(), [&](const auto& r) {
            return QString::fromStdString(commandName(r)) == command;
        });
        if (row == kOneShots.end() || args.size() != 1) {
            return usageError("unknown command " + args.join(' '));
        }
        code = row->code;
    }

    qt::QtSerialPort line;
    if (parser.isSet(port)) {
        const auto parsed = parseLineAddress(parser.value(port).toStdString());
        if (!parsed.address) {
            return usageError(QString::fromStdString(parsed.error));
        }
        line.nameDevice(1, parser.value(port).toStdString());
    }
    (void)line.setPortNumber(1);
    (void)line.setSettings(settings->settings);
    SerialResult opened = line.open();
    if (opened.pending) { // a network line: until it has connected or given up
        QEventLoop loop;
        line.onOpened([&](const SerialResult& result) {
            opened = result;
            loop.quit();
        });
        loop.exec();
    }
    if (!opened.ok) {
        return complain(QString::fromStdString(opened.message), kUsageError);
    }
    line.onLost([](const std::string& device, const std::string& reason, bool) {
        complain(QString::fromStdString(device + " went away: " + reason), kFailed);
    });
    Exchange exchange{line, std::string(*prefix), timeoutMs};
    const int result = code.empty() ? status(exchange, parser.isSet(json))
                                    : sendOne(exchange, code, parser.isSet(json));
    line.close();
    return result;
}
