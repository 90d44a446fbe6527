// vk9ctl: the panel's commands for scripts. It opens the line the panel's port 1 would
// open (or the one named), sends frames built as the panel builds them, and believes a
// reply only when it is whole, fresh and of its query's shape. Exit status: 0 every reply
// came in its shape, 1 a reply missing or unexpected (or a wait ran out), 2 a usage error,
// 3 the line could not be opened, is in use, or went away, 128 + N ended by signal N.
#include "Check.h"
#include "Session.h"
#include "adjust/Adjust.h"
#include "commands/Catalogue.h"
#include "io/NumberedPort.h"
#include "io/UnixSignals.h"
#include "model/Layout.h"
#include "model/Lookup.h"
#include "protocol/Frames.h"
#include "protocol/Json.h"
#include "protocol/Replies.h"
#include "serial/Addressing.h"
#include "serial/PortChoice.h"
#include "traffic/ReplyDecoder.h"
#include "traffic/TrafficPath.h"
#include "traffic/TrafficText.h"
#include "transport/PortNames.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

using namespace vk9;
using namespace vk9::ctl;
using namespace vk9::protocol;

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;     // a reply missing or unexpected, a wait that ran out
constexpr int kUsageError = 2; // nothing was sent
constexpr int kLineError = 3;  // the line could not be opened, is in use, or went away

constexpr int kLongestMs = 600000;                   // --timeout, --late and --for
constexpr auto kPollEvery = std::chrono::seconds(1); // --wait asks for the status this often
constexpr int kDefaultWaitSeconds = 60;
constexpr int kLongestWaitSeconds = 3600;

// What a COMMAND stands for.
struct Command {
    std::string code; // empty: the six status queries
    bool hold = false;
    milliseconds period{0}; // a hold's repeat, as a fresh panel repeats it
};

// A frame and what came of it.
struct Result {
    std::string address;
    std::string code;
    std::optional<std::string> reply; // raw; none when nothing came
    Reading reading;
    std::string error;
    int copies = 0; // a hold's
    bool hold = false;
};

struct Run {
    Session& session;
    std::string where; // the device and where it was named
    bool multiple = false;
    std::vector<Result> results;
};

std::optional<Command> commandFor(std::string_view nameOrCode, bool byCode) {
    const auto matches = [&](const auto& row) {
        return (byCode ? row.code : row.name) == nameOrCode;
    };
    for (const auto& row : kOneShots) {
        if (matches(row)) {
            return Command{std::string(row.code)};
        }
    }
    for (const auto& row : kSelectors) {
        if (matches(row)) {
            return Command{std::string(row.code)};
        }
    }
    for (const auto& row : kHoldButtons) {
        if (matches(row)) {
            // A cursor arrow repeats at the period the last selector gave; a fresh panel has
            // the designed 200 ms.
            const milliseconds period =
                row.kind == HoldKind::Timed ? row.repeat : milliseconds(kDesignedTimerIntervals[0]);
            return Command{std::string(row.code), true, period};
        }
    }
    return std::nullopt;
}

// The prefixes for --address: "all", or projector numbers 1 to 4 separated by commas.
std::optional<std::vector<std::string>> prefixesFor(const QString& who) {
    std::vector<std::string> prefixes;
    const QStringList parts = who.split(',');
    for (const QString& part : parts) {
        // The address option captioned "ALL", or "001" to "004".
        const QString caption = part == "all" && parts.size() == 1 ? QStringLiteral("ALL")
                                : part.size() == 1                 ? "00" + part
                                                                   : QString();
        const auto* option = std::find_if(kOptions.begin(), kOptions.end(), [&](const auto& o) {
            return QString::fromUtf8(o.caption.data(), qsizetype(o.caption.size())) == caption;
        });
        const auto* row = option == kOptions.end() ? nullptr : findRow(kAddressOptions, option->id);
        if (row == nullptr) {
            return std::nullopt;
        }
        if (std::find(prefixes.begin(), prefixes.end(), row->prefix) != prefixes.end()) {
            return std::nullopt; // named twice
        }
        prefixes.emplace_back(row->prefix);
    }
    return prefixes;
}

// A reply as the RXD box renders it; a long one (a flood of garbage) by its head and tail.
std::string shown(const std::string& reply) {
    constexpr std::size_t kHead = 8;
    constexpr std::size_t kTail = 16;
    if (reply.size() <= 2 * (kHead + kTail)) {
        return trafficText(reply);
    }
    return trafficText(reply.substr(0, kHead)) + "... " +
           std::to_string(reply.size() - kHead - kTail) + " bytes more ..." +
           trafficText(reply.substr(reply.size() - kTail));
}

Result exchange(Run& run, const std::string& prefix, std::string_view code) {
    Result r;
    r.address = prefix;
    r.code = code;
    const Session::Reply reply = run.session.ask(commandFrame(prefix, code));
    if (!reply.bytes.empty()) {
        r.reply = reply.bytes;
    }
    const std::string who = prefix.empty() ? std::string() : prefix + ": ";
    const std::string ms = std::to_string(run.session.timeout().count()) + " ms";
    if (run.session.ended() && !reply.windowClosed) {
        r.error = *run.session.ended();
    } else if (!reply.notSent.empty()) {
        r.error = who + r.code + " not sent: " + reply.notSent;
    } else if (!reply.whole) {
        r.error = who + (reply.bytes.empty()
                             ? "no reply to " + r.code + " within " + ms + " on " + run.where
                             : "reply to " + r.code + " cut off at " + ms + ":" +
                                   shown(reply.bytes) + " on " + run.where);
    } else if (r.reading = readReply(code, reply.bytes); !r.reading.ok) {
        r.error = who + "unexpected reply to " + r.code + ":" + shown(reply.bytes);
    }
    return r;
}

Result holdFor(Run& run, const std::string& prefix, const Command& c, milliseconds span) {
    Result r;
    r.address = prefix;
    r.code = c.code;
    r.hold = true;
    const auto acks = [](const std::string& replies) {
        int n = 0;
        for (auto at = replies.find("\x06\r"); at != std::string::npos;
             at = replies.find("\x06\r", at + 2)) {
            ++n;
        }
        return n;
    };
    const Session::Held held = run.session.hold(commandFrame(prefix, c.code), c.period, span, acks);
    r.copies = held.copies;
    if (!held.replies.empty()) {
        r.reply = held.replies;
    }
    const int answered = acks(held.replies);
    if (run.session.ended()) {
        r.error = *run.session.ended();
    } else if (!held.notSent.empty() || held.copies == 0) {
        r.error = (prefix.empty() ? std::string() : prefix + ": ") + c.code + " not sent: " +
                  (held.notSent.empty() ? "no copy went on the line" : held.notSent);
    } else if (answered < held.copies || held.replies.size() != std::size_t(2 * answered)) {
        r.error = (prefix.empty() ? std::string() : prefix + ": ") + std::to_string(answered) +
                  " of " + std::to_string(held.copies) + " copies of " + c.code +
                  " acknowledged on " + run.where;
    } else {
        r.reading.ok = true;
    }
    return r;
}

// After power-on or power-off to every projector named: the status of each asked every
// second, all within the one limit, until each is as wanted. A projector that was still
// turning the other way (cooling down for power-on, counting down for power-off) has
// ignored the command: it is sent again once the projector has got there.
void waitFor(Run& run, const std::vector<std::string>& prefixes, std::string_view code,
             int seconds) {
    const bool on = code == "C00";
    const std::string wanted = on ? " Power ON" : " Stand by";
    const std::string left = on ? " Stand by" : " Power ON";          // the command did not take
    const std::string turning = on ? " Cooling down" : " Count down"; // and why
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    struct Waiting {
        std::string prefix;
        Result status;
        bool turning = false;
        bool done = false;
    };
    std::vector<Waiting> waiting;
    for (const std::string& prefix : prefixes) {
        waiting.push_back({prefix, {}, false, false});
    }
    while (true) { // every second, and once more at the deadline
        for (Waiting& w : waiting) {
            if (w.done || run.session.ended()) {
                continue;
            }
            w.status = exchange(run, w.prefix, "CR0");
            const std::string& text = w.status.reading.text;
            w.done = !w.status.error.empty() || text == wanted;
            if (!w.done && w.turning && text == left) {
                run.results.push_back(exchange(run, w.prefix, code)); // now it takes
                w.done = !run.results.back().error.empty();
            }
            w.turning = text == turning;
        }
        const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const bool all =
            std::all_of(waiting.begin(), waiting.end(), [](const Waiting& w) { return w.done; });
        if (run.session.ended() || all || remaining.count() <= 0) {
            break;
        }
        run.session.pause(std::min<std::chrono::milliseconds>(kPollEvery, remaining));
    }
    for (Waiting& w : waiting) {
        if (w.status.error.empty() && w.status.reading.text != wanted) {
            w.status.error = (w.prefix.empty() ? std::string() : w.prefix + ": ") + "not" + wanted +
                             " within " + std::to_string(seconds) + " s; the last status was" +
                             w.status.reading.text;
        }
        if (!w.status.code.empty()) {
            run.results.push_back(w.status);
        }
    }
}

std::string resultJson(const Result& r) {
    JsonObject o;
    o.add("address", jsonString(r.address))
        .add("code", jsonString(r.code))
        .add("reply", r.reply ? jsonString(*r.reply) : "null")
        .add("text", r.reading.ok && isQuery(r.code) ? jsonString(r.reading.text) : "null")
        .add("error", r.error.empty() ? "null" : jsonString(r.error));
    for (const std::string& key : valueKeys(r.code)) {
        const Value* value = valueOf(r.reading, key);
        o.add(key, r.reading.ok && value != nullptr ? valueJson(*value) : "null");
    }
    if (r.hold) { // every hold's, with --for or without
        o.add("copies", std::to_string(r.copies));
    }
    return o.text();
}

std::string resultLine(const Run& run, const Result& r) {
    const std::string text =
        isQuery(r.code) ? r.reading.text
        : r.hold        ? " " + r.code + " acknowledged, " + std::to_string(r.copies) + " copies"
                        : " " + r.code + " acknowledged";
    return run.multiple ? r.address + text : text.substr(isQuery(r.code) ? 0 : 1);
}

QString commandList() {
    QString list = "\nCommands:\n  status              the six status queries, decoded\n"
                   "  send CODE           any code a button of the panel sends\n";
    const auto add = [&](std::string_view name, std::string_view code, Control id,
                         const QString& note) {
        const ButtonRow* button = findRow(kButtons, id);
        const std::string_view label =
            button->accessibleName.empty() ? button->caption : button->accessibleName;
        list += QStringLiteral("  %1%2%3%4\n")
                    .arg(QString::fromUtf8(name.data(), qsizetype(name.size())).leftJustified(20))
                    .arg(QString::fromUtf8(code.data(), qsizetype(code.size())).leftJustified(6))
                    .arg(QString::fromUtf8(label.data(), qsizetype(label.size())))
                    .arg(note);
    };
    for (const bool queries : {false, true}) {
        list += queries ? "\nStatus queries, decoded as the STATUS box shows them:\n"
                        : "\nButtons that send once:\n";
        for (const auto& row : kOneShots) {
            if (isQuery(row.code) == queries) {
                add(row.name, row.code, row.id, {});
            }
        }
    }
    list += "\nSelectors (the panel also tunes its cursor pad with them):\n";
    for (const auto& row : kSelectors) {
        add(row.name, row.code, row.id, {});
    }
    list += "\nHold buttons: one copy, or with --for MS copies at the panel's period:\n";
    for (const auto& row : kHoldButtons) {
        const auto period = commandFor(row.name, false)->period.count();
        add(row.name, row.code, row.id, QStringLiteral(", every %1 ms").arg(period));
    }
    list += "\nExit status: 0 done; 1 a reply missing, cut off or unexpected; 2 a usage "
            "error;\n3 the line could not be opened, is in use, or went away; 128 + N ended "
            "by signal N.\ncheck: 0 OK, 1 WARNING, 2 CRITICAL (a fault, a projector that "
            "does not answer,\nno line), 3 UNKNOWN (a mistake in the options, out of time, "
            "a signal).\n";
    return list;
}

bool isCommandWord(const QString& word) {
    return word == "status" || word == "send" || commandFor(word.toStdString(), false);
}

// --wait takes an optional number of seconds: "--wait" alone, or followed by its value. The
// word after it is its value unless it is an option or a command ("--wait power-on"), so
// that "--wait abc" is told as a bad --wait, not as an unknown command.
QStringList withWaitValue(QStringList args) {
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--wait") {
            const bool valued =
                i + 1 < args.size() && !args[i + 1].startsWith('-') && !isCommandWord(args[i + 1]);
            args[i] =
                "--wait=" + (valued ? args.takeAt(i + 1) : QString::number(kDefaultWaitSeconds));
        }
    }
    return args;
}

int usageError(const QString& reason) {
    std::fprintf(stderr, "vk9ctl: %s\nTry 'vk9ctl --help'\n", qPrintable(reason));
    return kUsageError;
}

std::optional<int> millisecondsIn(const QString& text) {
    bool number = false;
    const int value = text.toInt(&number);
    return number && value >= 1 && value <= kLongestMs ? std::optional(value) : std::nullopt;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vk9ctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VK9RSC_VERSION));
    std::signal(SIGPIPE, SIG_IGN); // a closed standard output is told, not a silent death
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "The projector panel's commands for scripts.\n\n"
        "DEVICE is as for vk9rsc: a serial device, tcp://HOST:PORT, rfc2217://HOST:PORT or\n"
        "gate://HOST:PORT (a line shared through vk9gate, which tells what became of each\n"
        "frame: the reply window counts from its time on the line, and a frame that waited too\n"
        "long for the line is exit status 3);\n"
        "by default the panel's port 1: VK9RSC_COM1, else com1 in the lines file\n"
        "($XDG_CONFIG_HOME/vk9rsc/lines.toml, else ~/.config/vk9rsc/lines.toml, else\n"
        "/etc/vk9rsc/lines.toml), else /dev/ttyS0.\n"
        "After a reply that did not come, nothing more is sent and the run does not end until\n"
        "the late window has passed since its frame and the line has been quiet 100 ms: a\n"
        "late reply is thrown away, never taken for the next one. Ended by a signal, a run\n"
        "waits out the late window of a frame still unanswered; a second signal ends it at\n"
        "once.\n\n"
        "Exit status:\n"
        "  0        every reply came in its shape\n"
        "  1        a reply missing, cut off or unexpected; a wait that ran out; standard\n"
        "           output that could not be written\n"
        "  2        a usage error; nothing was sent\n"
        "  3        the line could not be opened, is in use, or went away\n"
        "  128 + N  ended by signal N (SIGTERM, SIGINT, SIGHUP), the line released first");
    const QCommandLineOption port("port", "The line.", "DEVICE");
    const QCommandLineOption speed("speed",
                                   "19200 (default) or 9600 bit/s; on a raw tcp:// line the "
                                   "device server sets it.",
                                   "BAUD", "19200");
    const QCommandLineOption address("address",
                                     "Projectors 1 to 4, one or a list (1,2,4), or all (a "
                                     "command only: all answer as one); none by default.",
                                     "WHO");
    const QCommandLineOption json("json", "Print one JSON object, whatever happens.");
    const QCommandLineOption timeout("timeout", "Wait this long for each reply (500).", "MS",
                                     "500");
    const QCommandLineOption late("late",
                                  "After a reply that did not come, the late window from its "
                                  "frame (2000).",
                                  "MS", "2000");
    const QCommandLineOption waitLine("wait-line",
                                      "Wait up to this long for a local line that another "
                                      "program holds, or a Telnet device server that turns "
                                      "the connection away (0: fail at once).",
                                      "SECONDS", "0");
    const QCommandLineOption hold("for", "Hold the button this long.", "MS");
    const QCommandLineOption wait("wait",
                                  "After power-on or power-off, ask every projector named for "
                                  "its status every second until each is on or in stand by, "
                                  "for at most SECONDS in all (60, which may be left out).",
                                  "SECONDS");
    const QCommandLineOption warning({"w", "warning"},
                                     "check: lamp hours that warn, in the monitoring plugins' "
                                     "range syntax (2500 warns above 2500).",
                                     "RANGE");
    const QCommandLineOption critical({"c", "critical"}, "check: lamp hours that are critical.",
                                      "RANGE");
    const QCommandLineOption tempWarning(
        "temp-warning", "check: temperatures (each sensor, °C) that warn.", "RANGE");
    const QCommandLineOption tempCritical("temp-critical", "check: temperatures that are critical.",
                                          "RANGE");
    const QCommandLineOption timeLimit(
        {"t", "time-limit"}, "check: the most the whole check may take (10).", "SECONDS", "10");
    const QCommandLineOption verbose("verbose", "Trace every frame and reply on standard error.");
    const QCommandLineOption help({"h", "help"}, "Show this help and the commands.");
    const QCommandLineOption version({"v", "version"}, "Show the version.");
    parser.addOptions({port, speed, address, json, timeout, late, waitLine, hold, wait, warning,
                       critical, tempWarning, tempCritical, timeLimit, verbose, help, version});
    parser.addPositionalArgument("COMMAND", "status, check, send CODE, or a name below.");
    const bool parsed = parser.parse(withWaitValue(QCoreApplication::arguments()));
    // A monitoring plugin's mistakes are UNKNOWN (3), told on standard output.
    const bool checking = !parser.positionalArguments().isEmpty() &&
                          parser.positionalArguments().constFirst() == "check";
    const auto refuse = [&](const QString& reason) {
        if (checking) {
            std::printf("%s\n",
                        checkFailed(CheckStatus::Unknown, reason.toStdString()).line.c_str());
            return int(CheckStatus::Unknown);
        }
        return usageError(reason);
    };
    if (!parsed) {
        return refuse(parser.errorText());
    }
    const auto finishOutput = [&](int status) {
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            std::fprintf(stderr, "vk9ctl: standard output: %s\n", std::strerror(errno));
            return checking ? int(CheckStatus::Unknown) : status == kDone ? kFailed : status;
        }
        return status;
    };
    if (parser.isSet(help)) {
        std::printf("%s%s", qPrintable(parser.helpText()), qPrintable(commandList()));
        return finishOutput(kDone);
    }
    if (parser.isSet(version)) {
        std::printf("vk9ctl %s\n", VK9RSC_VERSION);
        return finishOutput(kDone);
    }

    // Every value is checked before anything is opened or sent.
    const auto speedRow = std::find_if(kSpeedOptions.begin(), kSpeedOptions.end(), [&](auto& r) {
        return QString::fromLatin1(r.settings.data(), qsizetype(r.settings.size()))
            .startsWith(parser.value(speed) + ",");
    });
    if (speedRow == kSpeedOptions.end()) {
        return refuse("--speed " + parser.value(speed) + ": 19200 or 9600");
    }
    const auto prefixes =
        parser.isSet(address) ? prefixesFor(parser.value(address)) : std::vector<std::string>{""};
    if (!prefixes) {
        return refuse("--address " + parser.value(address) +
                      ": a projector 1 to 4, a list such as 1,2,4 (each once), or all");
    }
    const auto timeoutMs = millisecondsIn(parser.value(timeout));
    if (!timeoutMs) {
        return refuse("--timeout " + parser.value(timeout) + ": milliseconds, from 1 to " +
                      QString::number(kLongestMs));
    }
    const auto lateMs = millisecondsIn(parser.value(late));
    if (!lateMs) {
        return refuse("--late " + parser.value(late) + ": milliseconds, from 1 to " +
                      QString::number(kLongestMs));
    }
    bool lineSecondsOk = false;
    const int lineSeconds = parser.value(waitLine).toInt(&lineSecondsOk);
    if (!lineSecondsOk || lineSeconds < 0 || lineSeconds > kLongestWaitSeconds) {
        return refuse("--wait-line " + parser.value(waitLine) + ": seconds, from 0 to " +
                      QString::number(kLongestWaitSeconds));
    }
    const QStringList args = parser.positionalArguments();
    if (args.isEmpty()) {
        return refuse("no COMMAND: status, send CODE, or a name that --help lists");
    }
    std::optional<Command> command;
    Thresholds thresholds;
    int limitSeconds = 0;
    if (checking && args.size() == 1) {
        command = Command{};
        const std::pair<const QCommandLineOption*, std::optional<Range>*> ranges[] = {
            {&warning, &thresholds.lampWarning},
            {&critical, &thresholds.lampCritical},
            {&tempWarning, &thresholds.temperatureWarning},
            {&tempCritical, &thresholds.temperatureCritical}};
        for (const auto* option : {&warning, &critical, &tempWarning, &tempCritical, &timeLimit}) {
            if (parser.values(*option).size() > 1) { // which one was meant?
                return refuse("--" + option->names().constLast() + " is given twice");
            }
        }
        for (const auto& [option, range] : ranges) {
            if (parser.isSet(*option)) {
                *range = parseRange(parser.value(*option).toStdString());
                if (!*range) {
                    return refuse("--" + option->names().constLast() + " " + parser.value(*option) +
                                  ": a range, such as 2500, 10:, ~:45, 10:20 or @10:20");
                }
            }
        }
        bool number = false;
        limitSeconds = parser.value(timeLimit).toInt(&number);
        if (!number || limitSeconds < 1 || limitSeconds > kLongestWaitSeconds) {
            return refuse("--time-limit " + parser.value(timeLimit) + ": seconds, from 1 to " +
                          QString::number(kLongestWaitSeconds));
        }
    } else if (args[0] == "status" && args.size() == 1) {
        command = Command{};
    } else if (args[0] == "send") {
        if (args.size() < 2) {
            return refuse("send: which CODE? For example: send C00");
        }
        command = commandFor(args[1].toStdString(), true);
        if (!command) {
            return refuse("send " + args[1] + ": no button of the panel sends " + args[1]);
        }
    } else if (args.size() == 1) {
        command = commandFor(args[0].toStdString(), false);
        if (!command) {
            return refuse("unknown command " + args[0] + " (--help lists them all)");
        }
    }
    if (!command || args.size() > (args[0] == "send" ? 2 : 1)) {
        return refuse("unexpected " + args.last());
    }
    if (!checking) {
        for (const auto* option : {&warning, &critical, &tempWarning, &tempCritical, &timeLimit}) {
            if (parser.isSet(*option)) {
                return refuse("--" + option->names().constLast() + " goes with check");
            }
        }
    }
    std::optional<int> holdMs;
    if (parser.isSet(hold)) {
        holdMs = millisecondsIn(parser.value(hold));
        if (!command->hold) {
            return refuse("--for goes with a hold button, such as zoom-plus");
        }
        if (!holdMs) {
            return refuse("--for " + parser.value(hold) + ": milliseconds, from 1 to " +
                          QString::number(kLongestMs));
        }
    }
    int waitSeconds = 0;
    if (parser.isSet(wait)) {
        bool number = false;
        waitSeconds = parser.value(wait).toInt(&number);
        if (!number || waitSeconds < 1 || waitSeconds > kLongestWaitSeconds) {
            return refuse("--wait " + parser.value(wait) + ": seconds, from 1 to " +
                          QString::number(kLongestWaitSeconds));
        }
        if (command->code != "C00" && command->code != "C02") {
            return refuse("--wait goes with power-on or power-off");
        }
    }
    // "AFFF" reaches every projector, but only one answers for all: an answer would be one
    // projector's, labelled as all of theirs.
    const bool asks = command->code.empty() || isQuery(command->code) || waitSeconds > 0;
    if (asks && prefixes->size() == 1 && prefixes->front() == "AFFF") {
        return refuse(QStringLiteral("--address all takes a command, not a query or --wait: "
                                     "only one projector answers for all; use --address "
                                     "1,2,3,4"));
    }

    // The line: --port, else VK9RSC_COM1, else the lines file, else the default.
    const std::string portNamed = parser.isSet(port) ? parser.value(port).toStdString() : "";
    const LinesFile linesFile = findLinesFile();
    const NamedLine named =
        lineForPort(1, portNamed, std::getenv(portVariable(1).c_str()), linesFile, false);
    if (const auto parsed = parseLineAddress(named.device); !parsed.address) {
        const std::string origin = named.origin == "--com1" ? "--port" : named.origin;
        return refuse(QString::fromStdString(origin + " " + parsed.error));
    }
    if (!linesFile.error.empty() && named.origin.empty()) {
        return refuse(QString::fromStdString(linesFile.error));
    }
    if (parser.isSet(speed) && named.device.rfind("tcp://", 0) == 0) {
        return refuse("--speed " + parser.value(speed) +
                      ": on a raw tcp:// line the speed is the device server's to set; "
                      "rfc2217:// sets it from here");
    }
    if (parser.isSet(speed) && named.device.rfind("gate://", 0) == 0) {
        return refuse("--speed " + parser.value(speed) +
                      ": on a gate:// line the speed is the gate's to set (its line.speed)");
    }
    qt::NumberedPort line;
    line.nameDevice(1, named.device);
    (void)line.setPortNumber(1);
    (void)line.setSettings(speedRow->settings);
    const std::string from = named.origin.empty()       ? "the default"
                             : named.origin == "--com1" ? "from --port"
                                                        : "from " + named.origin;

    Session session(line, std::chrono::milliseconds(*timeoutMs), std::chrono::milliseconds(*lateMs),
                    parser.isSet(verbose));
    Run run{session, line.deviceName() + " (" + from + ")", prefixes->size() > 1, {}};
    bool turnedAway = false; // a device server that hung up at once: nothing reached the line
    line.onLost([&](const std::string&, const std::string& reason, bool) {
        // A server that has answered a frame took the connection, however soon it hangs up
        // (a gate stopped or restarted): a lost line, and what was answered stands.
        const bool answered = std::any_of(run.results.begin(), run.results.end(),
                                          [](const Result& r) { return r.reply.has_value(); });
        turnedAway = !answered && reason.rfind("the line is in use", 0) == 0;
        session.end(run.where + " went away: " +
                    (answered && reason.rfind("the line is in use", 0) == 0
                         ? std::string("the server closed the connection")
                         : reason));
    });
    std::vector<std::string> noted; // what the line has to say, each once
    line.onNote([&](const std::string& device, const std::string& text, bool) {
        if (!checking && std::find(noted.begin(), noted.end(), text) == noted.end()) {
            noted.push_back(text);
            std::fprintf(stderr, "vk9ctl: %s: %s\n", device.c_str(), text.c_str());
        }
    });
    int signalled = 0;
    qt::UnixSignals stopping({SIGTERM, SIGINT, SIGHUP}, [&](int number) {
        if (signalled != 0) {
            session.interrupt(); // a second signal: out at once
            return;
        }
        signalled = number;
        session.end(std::string("ended by SIG") + sigabbrev_np(number));
    });

    bool overTime = false;
    QTimer limit;
    if (checking) { // the whole check, the line's opening too
        limit.setSingleShot(true);
        limit.setTimerType(Qt::PreciseTimer);
        QObject::connect(&limit, &QTimer::timeout, [&] {
            overTime = true;
            session.end("not done within " + std::to_string(limitSeconds) + " s");
        });
        limit.start(std::chrono::seconds(limitSeconds));
    }
    std::string error;
    int status = kDone;
    if (const auto failed = session.open(std::chrono::seconds(lineSeconds))) {
        error = session.ended() ? *failed : "cannot open " + run.where + ": " + *failed;
        status = kLineError;
    }
    std::vector<std::string> acknowledged; // for --wait
    for (const std::string& prefix : status == kDone ? *prefixes : std::vector<std::string>{}) {
        if (command->code.empty()) {
            for (const auto& query : kQueries) {
                if (session.ended()) {
                    break;
                }
                if (checking && query.code != kPowerQuery && query.code != kLampHoursQuery &&
                    query.code != kTemperatureQuery) {
                    continue;
                }
                run.results.push_back(exchange(run, prefix, query.code));
                if (checking && !run.results.back().error.empty()) {
                    break; // it is CRITICAL already: the rest would only wait out windows
                }
                if (&query == &kQueries.front() && !run.results.back().reply && !session.ended()) {
                    // Silent: the rest of its queries would only wait out their windows.
                    run.results.back().error += "; not asked the rest of the status";
                    break;
                }
            }
        } else if (command->hold && holdMs) {
            run.results.push_back(
                holdFor(run, prefix, *command, std::chrono::milliseconds(*holdMs)));
        } else {
            run.results.push_back(exchange(run, prefix, command->code));
            run.results.back().hold = command->hold;
            run.results.back().copies = command->hold && !session.ended() ? 1 : 0;
            if (run.results.back().error.empty()) {
                acknowledged.push_back(prefix);
            }
        }
        if (session.ended()) {
            break;
        }
    }
    if (waitSeconds > 0 && !acknowledged.empty() && !session.ended()) {
        waitFor(run, acknowledged, command->code, waitSeconds);
    }
    const bool failed = std::any_of(run.results.begin(), run.results.end(),
                                    [](const Result& r) { return !r.error.empty(); });
    if (failed && !session.ended()) {
        // A device server that turns a raw TCP client away says why as data and hangs up:
        // the hang-up, a moment behind, is the real answer.
        session.pause(std::chrono::milliseconds(50));
    }
    if (signalled != 0 || overTime) {
        session.drain(); // a late reply must not reach the next run on this line
    }
    (void)line.close();
    if (turnedAway) {
        run.results.clear(); // what came was the server's refusal, not a projector's reply
    }
    if (session.ended() && status == kDone) {
        error = *session.ended();
        status = kLineError;
    }
    if (signalled != 0) {
        status = 128 + signalled;
    }
    // Each failure once on standard error; the first (the line's before any reply's) is the
    // run's error.
    std::vector<std::string> told;
    const auto tell = [&](const std::string& message) { // a check tells on its one line alone
        if (!checking && !message.empty() &&
            std::find(told.begin(), told.end(), message) == told.end()) {
            told.push_back(message);
            std::fprintf(stderr, "vk9ctl: %s\n", message.c_str());
        }
    };
    for (const Result& r : run.results) {
        tell(r.error);
        if (!r.error.empty() && status == kDone) {
            status = kFailed;
            error = r.error;
        }
    }
    if (checking) {
        CheckOutcome outcome;
        if (signalled != 0) { // stopped before it knew
            outcome = checkFailed(CheckStatus::Unknown, error);
        } else if (status == kLineError && !overTime) {
            outcome = checkFailed(CheckStatus::Critical, error); // no line, no projectors
        } else {
            if (overTime) { // the exchange under way when time ran out told nothing
                std::erase_if(run.results, [&](const Result& r) { return r.error == error; });
            }
            std::vector<Checked> checked;
            for (const std::string& prefix : *prefixes) {
                Checked& c = checked.emplace_back();
                c.address = prefix.empty() ? "" : prefix.substr(1);
                for (const Result& r : run.results) {
                    if (r.address != prefix) {
                        continue;
                    }
                    if (!r.error.empty() || !r.reading.ok) { // its values are not there
                        if (c.error.empty()) {
                            c.error = r.error.substr(prefix.empty() ? 0 : prefix.size() + 2);
                        }
                    } else if (r.code == kPowerQuery && r.reply) {
                        const auto power = readPower(*r.reply);
                        c.fault = !power                         ? ""
                                  : power->tooHot                ? "temperature fault"
                                  : power->state == Power::Fault ? "power fault"
                                                                 : "";
                    } else if (r.code == kLampHoursQuery) {
                        c.lampHours = std::get<long long>(*valueOf(r.reading, "lamp_hours"));
                    } else if (r.code == kTemperatureQuery) {
                        c.s1 = std::get<double>(*valueOf(r.reading, "s1"));
                        c.s2 = std::get<double>(*valueOf(r.reading, "s2"));
                    }
                }
            }
            if (overTime) { // what is known to be wrong stands; the rest is not known
                std::erase_if(checked,
                              [](const Checked& c) { return c.error.empty() && c.fault.empty(); });
                checked.emplace_back().error = error;
            }
            outcome = !overTime || checked.size() > 1 ? checkOutcome(checked, thresholds)
                                                      : checkFailed(CheckStatus::Unknown, error);
        }
        std::printf("%s\n", outcome.line.c_str());
        return finishOutput(int(outcome.status));
    }
    tell(error);
    if (parser.isSet(json)) {
        std::vector<std::string> results;
        for (const Result& r : run.results) {
            results.push_back(resultJson(r));
        }
        const std::string out = JsonObject()
                                    .add("ok", status == kDone ? "true" : "false")
                                    .add("error", error.empty() ? "null" : jsonString(error))
                                    .add("results", jsonArray(results))
                                    .text();
        std::printf("%s\n", out.c_str());
    } else {
        for (const Result& r : run.results) {
            if (r.error.empty()) {
                std::printf("%s\n", resultLine(run, r).c_str());
            }
        }
    }
    return finishOutput(status);
}
