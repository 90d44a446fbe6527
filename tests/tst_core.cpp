// The panel's behaviour on virtual time, a fake port and a recording view: start-up, the
// window heights, the port and speed choice, the traffic timers, rendering and decoding,
// the hold buttons and their repeat, and the failure paths.
#include "PanelHarness.h"
#include "traffic/ReplyDecoder.h"
#include "traffic/TrafficText.h"
#include "transport/PortNames.h"
#include "transport/SerialSettings.h"

#include <algorithm>
#include <random>

#include <QTemporaryDir>

using namespace vk9;
using namespace vk9::test;
using C = Control;
using Texts = std::vector<std::string>;

namespace {

// What the STATUS box shows for a reply to a query sent unaddressed; "" for nothing.
QString decoded(const QByteArray& query, const QByteArray& reply) {
    const auto message =
        decodeReply(trafficText(reply.toStdString()), (query + '\r').toStdString(), "");
    return message ? QString::fromStdString(*message) : QString();
}

// A hold after some set-up: selectors clicked, hold buttons pressed and released.
struct HoldCase {
    const char* name;
    std::vector<Control> before;
    Control held;
    const char* frame;
    int period;      // ms between copies
    int replyWindow; // Timer2 and Timer4 while held
    int clearDelay;
};

const HoldCase kCases[] = {
    {"VOL +", {}, C::Command1, "C09\r", 250, 200, 245},
    {"SELECT", {}, C::Command6, "C3F\r", 500, 200, 245},
    {"arrow before any selector", {}, C::Command5, "C3C\r", 200, 500, 1000},
    {"CURSOL, up", {C::Command43}, C::Command5, "C3C\r", 30, 50, 75},
    {"ZOOM, up", {C::Command10}, C::Command5, "C3C\r", 50, 50, 75},
    {"FOCUS, down", {C::Command11}, C::Command7, "C3D\r", 100, 50, 75},
    {"A-IMAGE, left", {C::Command13}, C::Command9, "C3B\r", 200, 150, 190},
    {"MENU ON, right", {C::Command23}, C::Command8, "C3A\r", 200, 150, 190},
    {"A-IMAGE, MENU OFF, up", {C::Command13, C::Command24}, C::Command5, "C3C\r", 200, 150, 190},
    {"VOL +, arrow", {C::Command1}, C::Command5, "C3C\r", 250, 500, 1000},
    {"CURSOL, VOL +, arrow", {C::Command43, C::Command1}, C::Command7, "C3D\r", 250, 50, 75},
    {"D.Zoom + released, arrow", {C::Command48}, C::Command5, "C3C\r", 5, 5, 5},
    {"D.Zoom - released, CURSOL", {C::Command49, C::Command43}, C::Command8, "C3A\r", 30, 50, 75},
};

} // namespace

class TstCore : public QObject {
    Q_OBJECT
private slots:
    void startUp_data() {
        QTest::addColumn<double>("width"); // of the screen, in pixels
        QTest::addColumn<double>("height");
        QTest::addColumn<int>("failingOpen"); // 1: start-up's own open, 2: COM1's reopen
        QTest::addColumn<bool>("connects");   // a network line: the open is pending
        QTest::addColumn<QString>("origin");  // where port 1's line was named
        QTest::addColumn<QString>("calls");   // on the port
        QTest::addColumn<QString>("warning"); // once the window is on screen
        // Opened, then closed and opened again by the selection of "COM1".
        const QString opened = "number 1,settings 19200,N,8,1,open,close,number 1,open";
        // With the serial ports the machine has; advice to name the line only if none was.
        const QString failed = "/dev/ttyS0: No such file or directory\n\nSerial ports on this "
                               "machine: /dev/ttyUSB0.\n";
        const QString name = "Name the line for port 1 with --com1 DEVICE, or as com1 in "
                             "~/.config/vk9rsc/lines.toml.";
        // clang-format off
        QTest::newRow("full HD") << 1920.0 << 1080.0 << 0 << false << "" << opened << "";
        QTest::newRow("small screen: negative, not clamped")
            << 600.0 << 400.0 << 0 << false << "" << opened << "";
        QTest::newRow("port 1 does not open") << 1920.0 << 1080.0 << 1 << false << ""
            << "number 1,settings 19200,N,8,1,open,number 1" << failed + name;
        QTest::newRow("port 1 does not reopen for COM1") << 1920.0 << 1080.0 << 2 << false << ""
            << opened + ",number 2" << failed + name;
        QTest::newRow("a line named that does not open") << 1920.0 << 1080.0 << 1 << false << "VK9RSC_COM1"
            << "number 1,settings 19200,N,8,1,open,number 1"
            << failed + "Port 1 is /dev/ttyS0, as VK9RSC_COM1 names it: choose COM, then COM1, once it is there.";
        QTest::newRow("a network line connects once")
            << 1920.0 << 1080.0 << 0 << true << "" << "number 1,settings 19200,N,8,1,open" << "";
        // clang-format on
    }

    void startUp() {
        QFETCH(double, width);
        QFETCH(double, height);
        QFETCH(int, failingOpen);
        QFETCH(bool, connects);
        QFETCH(QString, origin);
        QFETCH(QString, calls);
        QFETCH(QString, warning);
        PanelHarness h;
        h.port.connects = connects;
        h.port.names.origin = origin.toStdString();
        h.view.screen = {width * 15, height * 15};
        h.port.failingOpen = failingOpen;
        h.port.openFailure = "/dev/ttyS0: No such file or directory";
        h.panel.load();
        if (connects) {
            h.panel.opened(SerialResult::success());
        }
        QCOMPARE(h.port.calls, calls.toStdString());
        PanelState expected;
        expected.portSettings = "19200,N,8,1";
        QVERIFY(h.state() == expected);
        // Centred as the designed 9495 + 2 * 60 by 6825 + 390 window, then shortened.
        QCOMPARE(h.view.left, (width * 15 - 9615) / 2);
        QCOMPARE(h.view.top, (height * 15 - 7215) / 2);
        QCOMPARE(h.view.height, 5200);
        QVERIFY(!h.view.isVisible(C::Frame8) && !h.view.isVisible(C::Command34));
        QCOMPARE(h.view.selected, std::vector<Control>{C::Option1});
        QCOMPARE(h.clock.interval(TimerId::Timer1), 200ms);
        QVERIFY(!h.clock.isRunning(TimerId::Timer1) && !h.clock.isRunning(TimerId::Timer2) &&
                !h.clock.isRunning(TimerId::Timer3) && !h.clock.isRunning(TimerId::Timer4));
        QVERIFY(h.view.warnings.empty()); // no box before the window is on screen
        h.panel.shown();
        h.panel.shown();
        h.clock.advance(10s);
        QCOMPARE(h.view.warnings, warning.isEmpty() ? Texts{} : Texts{warning.toStdString()});
        QCOMPARE(h.port.isOpen(), failingOpen == 0);
        QVERIFY(h.port.writes.empty());
    }

    void endClosesThePortAndQuits() {
        for (const bool byFrame : {false, true}) { // "END", or the window's own close button
            PanelHarness h;
            h.port.failingOpen = byFrame ? 0 : 1; // "END" closes a closed port all the same
            h.started();
            byFrame ? h.panel.close() : h.panel.click(C::Command16);
            QCOMPARE(h.port.calls, std::string("close"));
            QCOMPARE(h.view.quits, 1);
        }
    }

    // Ctrl+J and the data display button, one after another. A step is a key with its shift
    // state (1 Shift, 2 Ctrl, 4 Alt), or the data display button (key 0) clicked while the
    // window is as high as given.
    void windowHeights() {
        PanelHarness h;
        h.started();
        const PanelState before = h.state();
        const struct {
            int key;
            int shiftState; // or the height before the click
            int height;
            const char* caption;
        } steps[] = {
            // clang-format off
            {'J', 0, 5200, "データを表示する"}, {'J', 1, 5200, "データを表示する"},
            {'J', 3, 5200, "データを表示する"}, {'J', 6, 5200, "データを表示する"},
            {'J', 7, 5200, "データを表示する"}, {'K', 2, 5200, "データを表示する"},
            {'J', 2, 7200, "CLOSE"}, {0, 7200, 5200, "データを表示する"},
            {0, 5200, 6645, "データを表示しない"}, {'J', 2 | 8 | 64, 7200, "CLOSE"},
            {'J', 2, 7200, "CLOSE"}, {0, 6000, 5200, "データを表示する"},
            {0, 5999, 6645, "データを表示しない"}, {0, 6645, 5200, "データを表示する"},
            // clang-format on
        };
        for (const auto& step : steps) {
            if (step.key == 0) {
                h.view.height = step.shiftState;
                h.panel.click(C::Command34);
            } else {
                h.panel.keyDown(step.key, step.shiftState);
            }
            QCOMPARE(h.view.height, step.height);
            QCOMPARE(h.box(C::Command34), std::string(step.caption));
            QCOMPARE(h.view.isVisible(C::Command34), step.height != 5200 || step.key == 0);
        }
        QVERIFY(h.state() == before && h.port.writes.empty());
    }

    // Timer2, Timer3 and Timer4 count from the latest transmission or click.
    void settingsFrameStaysFiveSecondsAfterTheLatestClick() {
        for (const C again : {C::Command33, C::Command34}) { // "COM" or the data button, 3 s on
            PanelHarness h;
            h.started();
            h.panel.click(C::Command33);
            h.clock.advance(3000ms);
            h.panel.click(again);
            h.clock.advance(4999ms);
            QVERIFY(h.view.isVisible(C::Frame8));
            h.clock.advance(1ms);
            QVERIFY(!h.view.isVisible(C::Frame8) && !h.clock.isRunning(TimerId::Timer3));
        }
    }

    // One exchange after another, as the boxes show them: replies in pieces, a reply window
    // and a clearing that count from the latest transmission, late and unasked replies.
    void trafficTimeline() {
        PanelHarness h;
        h.started();
        struct Step {
            int at;        // ms
            Control click; // a button clicked or an option selected
            const char* reply;
            const char* boxes; // TXD|RXD|STATUS afterwards
        };
        const C none = C::Form1;
        const Step steps[] = {
            // clang-format off
            {0, C::Command44, "", " C R 0 CR ||"},
            {10, none, "0", " C R 0 CR | 0 |"},
            {20, none, "0\r", " C R 0 CR | 0 0 CR | Power ON"},
            {400, C::Command17, "", " C 0 0 CR | 0 0 CR | Power ON"}, // RXD and STATUS stay
            {899, none, "", " C 0 0 CR | 0 0 CR | Power ON"},
            {900, none, "", " C 0 0 CR | X X X X| Power ON"}, // 500 ms after the latest
            {1399, none, "", " C 0 0 CR | X X X X| Power ON"},
            {1400, none, "", "||"},                            // 1000 ms after the latest
            {2000, C::Command44, "", " C R 0 CR ||"},
            {2500, none, "", " C R 0 CR | X X X X|"},
            {2700, none, "20\r", " C R 0 CR | 2 0 CR | Cooling down"}, // after its window
            {3000, none, "", "||"},
            // Unasked: shown and kept, with the earlier text, until the next frame.
            {3100, none, "80\r", "| 2 0 CR 8 0 CR | Cooling down"},
            {60000, none, "", "| 2 0 CR 8 0 CR | Cooling down"},
            {60500, C::Command44, "", " C R 0 CR | 2 0 CR 8 0 CR | Cooling down"},
            // What came before the frame is no reply to it: the reply is decoded alone.
            {60510, none, "80\r", " C R 0 CR | 8 0 CR | Stand by"},
            {61500, none, "", "||"},
            // The address changes between a query and its reply: shown, not decoded. A newer
            // query before the reply: the newer query's table decodes it.
            {62000, C::Option5, "", "||"}, {62000, C::Command44, "", " A 0 0 1 C R 0 CR ||"},
            {62010, C::Option6, "00\r", " A 0 0 1 C R 0 CR | 0 0 CR |"},
            {63200, C::Option3, "", "||"}, {63200, C::Command44, "", " C R 0 CR ||"},
            {63200, C::Command45, "", " C R 1 CR ||"}, {63210, none, "3", " C R 1 CR | 3 | Input 3"},
            // clang-format on
        };
        for (const Step& step : steps) {
            h.clock.advance(milliseconds(step.at) - h.clock.now());
            h.panel.click(step.click); // each acts on its own kind of control only
            h.panel.select(step.click);
            if (*step.reply != '\0') {
                h.reply(step.reply);
            }
            QCOMPARE(h.boxes(), std::string(step.boxes));
        }
        h.port.input = "00\r";
        h.panel.comm(static_cast<CommEvent>(1)); // any other port event changes nothing
        QCOMPARE(h.state().receiveBuffer, std::string("3"));
        QCOMPARE(h.view.trafficLog[2], std::string("RX| 0 0 CR | Power ON")); // for the log
        h.clock.advance(10s); // both timers were one-shot
        QVERIFY(!h.clock.isRunning(TimerId::Timer2) && !h.clock.isRunning(TimerId::Timer4));
    }

    // A line that says whose a reply is (shared through a gate, where a frame waits its turn):
    // the reply to STATUS that comes once TEMP has been clicked is decoded as STATUS's, alone.
    void aReplyToItsOwnFrame() {
        PanelHarness h;
        h.started();
        h.panel.click(C::Command44); // STATUS
        h.panel.click(C::Command54); // TEMP
        h.clock.advance(600ms);
        h.panel.replyTo("CR0\r", "80\r");
        QCOMPARE(h.boxes(), std::string(" C R 6 CR | 8 0 CR | Stand by"));
        h.panel.replyTo("CR6\r", "041.5, 38.0\r");
        QCOMPARE(h.box(C::Label22), std::string("  S1= 0 4 1 . 5 C  ,   S2=  3 8 . 0 C"));
    }

    void portAndSpeedChoices() {
        PanelHarness h;
        h.port.absent[2] = "/dev/ttyS1: No such file or directory";
        h.started();
        h.panel.click(C::Command33);
        h.panel.select(C::Option2); // fails: told, back on number 1, the frame stays
        QCOMPARE(h.port.calls, std::string("close,number 2,open,number 1"));
        QCOMPARE(h.view.warnings, Texts{"/dev/ttyS1: No such file or directory"});
        QVERIFY(!h.port.isOpen() && h.view.isVisible(C::Frame8));
        h.port.clearRecords();
        h.panel.select(C::Option10); // a speed choice applies in place, open or closed
        QCOMPARE(h.port.calls, std::string("settings 9600,N,8,1"));
        QCOMPARE(h.state().portSettings, std::string("9600,N,8,1"));
        QVERIFY(!h.port.isOpen() && !h.view.isVisible(C::Frame8));
        // Plugged in now: the operator's choice opens the closed port all the same, with the
        // settings it had.
        h.port.absent.clear();
        h.port.clearRecords();
        h.panel.select(C::Option2);
        QCOMPARE(h.port.calls, std::string("number 2,open"));
        QVERIFY(h.port.isOpen() && h.port.settings == "9600,N,8,1");
        h.port.clearRecords();
        h.panel.select(C::Option1); // while open: closed, renumbered, reopened
        QCOMPARE(h.port.calls, std::string("close,number 1,open"));
        QCOMPARE(h.view.warnings.size(), std::size_t{1});
        const auto slow = parseSerialSettings("9600,N,8,1");
        QVERIFY(slow && slow->baud == 9600 && slow->dataBits == 8);
        QVERIFY(!parseSerialSettings("9600,N,8") && !parseSerialSettings("96OO,N,8,1"));
    }

    // Each port's line and where it was named: the command line, the variable, the lines
    // file, the default; a lines file with an error names nothing.
    void linesOfThePorts_data() {
        QTest::addColumn<QByteArray>("file"); // the lines file's text; empty: none
        QTest::addColumn<QString>("line");    // --com1 or VK9RSC_COM1 as "--com1 X" or "VAR X"
        QTest::addColumn<QString>("port1");   // "device (origin)"
        QTest::addColumn<QString>("port2");
        QTest::addColumn<QString>("error"); // after "FILE:"
        // clang-format off
        QTest::newRow("nothing named") << QByteArray() << "" << "/dev/ttyS0 ()" << "/dev/ttyS1 ()" << "";
        QTest::newRow("the file") << QByteArray("# hall\ncom1 = \"/dev/serial/by-id/usb-X\"\ncom2 = \"rfc2217://hall:7001\"\n")
            << "" << "/dev/serial/by-id/usb-X (FILE)" << "rfc2217://hall:7001 (FILE)" << "";
        QTest::newRow("the variable before the file") << QByteArray("com1 = \"/dev/ttyUSB1\"") << "VAR /dev/ttyUSB2"
            << "/dev/ttyUSB2 (VK9RSC_COM1)" << "/dev/ttyS1 ()" << "";
        QTest::newRow("the command line before all") << QByteArray("com1 = \"/dev/ttyUSB1\"") << "--com1 /dev/ttyUSB3"
            << "/dev/ttyUSB3 (--com1)" << "/dev/ttyS1 ()" << "";
        QTest::newRow("an unknown key") << QByteArray("com1 = \"/dev/ttyUSB1\"\n\ncom3 = \"x\"") << ""
            << "/dev/ttyS0 ()" << "/dev/ttyS1 ()" << ":3: unknown key \"com3\"; the keys are com1 and com2";
        QTest::newRow("not a text") << QByteArray("com2 = 7001") << "" << "/dev/ttyS0 ()" << "/dev/ttyS1 ()"
            << ":1: com2: a line is a text in quotes, such as \"/dev/ttyUSB0\"";
        QTest::newRow("no line") << QByteArray("com1 = \"tcp://hall\"") << "" << "/dev/ttyS0 ()" << "/dev/ttyS1 ()"
            << ":1: com1: \"tcp://hall\": a network line is tcp://HOST:PORT, PORT from 1 to 65535";
        QTest::newRow("not TOML") << QByteArray("com1 = /dev/ttyUSB0") << "" << "/dev/ttyS0 ()" << "/dev/ttyS1 ()"
            << ":1: Error while parsing value: could not determine value type";
        // clang-format on
    }

    void linesOfThePorts() {
        QFETCH(QByteArray, file);
        QFETCH(QString, line);
        QFETCH(QString, port1);
        QFETCH(QString, port2);
        QFETCH(QString, error);
        QTemporaryDir home;
        const QString path = home.filePath(".config/vk9rsc/lines.toml");
        const auto places = linesFilePlaces(nullptr, home.path().toUtf8().constData());
        QCOMPARE(places[0], path.toStdString());
        QCOMPARE(places[1], std::string("/etc/vk9rsc/lines.toml"));
        QCOMPARE(linesFilePlaces("/x", "/home/u")[0], std::string("/x/vk9rsc/lines.toml"));
        LinesFile lines;
        if (!file.isEmpty()) {
            QDir(home.path()).mkpath(".config/vk9rsc");
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(file) == file.size());
            f.close();
            lines = readLinesFile(path.toStdString());
        }
        QCOMPARE(QString::fromStdString(lines.error), error.isEmpty() ? "" : path + error);
        const std::string cli = line.startsWith("--com1 ") ? line.mid(7).toStdString() : "";
        const std::string var = line.startsWith("VAR ") ? line.mid(4).toStdString() : "";
        const auto shown = [&](int number) {
            const NamedLine n = lineForPort(number, number == 1 ? cli : "",
                                            number == 1 ? var.c_str() : nullptr, lines, false);
            return QString::fromStdString(n.device + " (" + n.origin + ")").replace(path, "FILE");
        };
        QCOMPARE(shown(1), port1);
        QCOMPARE(shown(2), port2);
        QCOMPARE(lineForPort(2, "", "", {}, true).device, std::string("COM2"));
    }

    // A network line connects after its open returned: the port choice ends when the outcome
    // comes, as one that opened at once would have.
    void pendingOpenEndsTheChoiceLater() {
        PanelHarness h;
        h.port.connects = true;
        h.port.names = {"tcp://127.0.0.1:7001", "--com1", true, ""};
        h.started(); // start-up's choice of COM1 is pending
        QVERIFY(h.view.warnings.empty());
        // A network line that does not open at start-up is tried again, as one lost later.
        h.panel.opened(SerialResult::failure("127.0.0.1:7001: connection refused"));
        QCOMPARE(h.view.warnings, Texts{"127.0.0.1:7001: connection refused\n\nReconnecting to "
                                        "127.0.0.1:7001: this box closes when the line is back."});
        QCOMPARE(h.port.number, 1);
        h.port.opened = false;
        h.clock.advance(1s);
        QCOMPARE(h.port.calls, std::string("open"));
        h.panel.opened(SerialResult::success());
        h.clock.advance(1s); // back once it has stayed open a second
        QVERIFY(!h.view.warningOpen);
        h.port.opened = false;
        h.port.clearRecords();
        h.panel.click(C::Command33);
        h.panel.select(C::Option1);
        QCOMPARE(h.port.calls, std::string("number 1,open"));
        QVERIFY(h.view.isVisible(C::Frame8)); // until it has connected
        h.panel.opened(SerialResult::success());
        QVERIFY(!h.view.isVisible(C::Frame8));
        h.panel.opened(SerialResult::failure("late")); // no choice pending: nothing happens
        QCOMPARE(h.view.warnings.size(), std::size_t{1});
        QVERIFY(!h.view.warningOpen);
        QCOMPARE(h.port.number, 1);
        h.panel.click(C::Command17);
        QCOMPARE(h.view.trafficLog, Texts{"TX| C 0 0 CR |"}); // each frame for the log
    }

    // Nothing is sent, and the first click that is not says so in the warning box too: the
    // STATUS box is out of view at the window's short height.
    void nothingIsSentOnALostLine() {
        PanelHarness h;
        h.started();
        h.panel.portLost("/dev/ttyUSB0", "the line hung up", false);
        const std::string lost = "The serial line /dev/ttyUSB0 went away: the line hung up\n\n"
                                 "Choose COM, then its port, once it is back.";
        const std::string unsent =
            "Nothing was sent: no serial port is open.\n\nChoose COM, then a port, to open it.";
        QCOMPARE(h.view.warnings, Texts{lost});
        QVERIFY(!h.port.isOpen());
        h.panel.press(C::Command15); // Zoom +
        QCOMPARE(h.boxes(), std::string("|| Not sent: no serial port is open"));
        QCOMPARE(h.view.logs.back(), std::string("not sent: C 4 7 CR - no serial port is open"));
        QCOMPARE(h.view.warnings, (Texts{lost, unsent}));
        h.clock.advance(1s);
        h.panel.release(C::Command15);
        h.clock.advance(5s);
        QVERIFY(h.port.writes.empty() && h.state().awaitingReply == 0);
        QVERIFY(!h.clock.isRunning(TimerId::Timer1) && !h.clock.isRunning(TimerId::Timer2));
        // The failed send ends the press: no interval changes, nothing repeats.
        QVERIFY(h.clock.interval(TimerId::Timer1) == 200ms && h.state().adjustTarget == 0);
        h.panel.click(C::Command17); // once a time the port is away
        QCOMPARE(h.view.warnings.size(), std::size_t{2});
        h.panel.select(C::Option1);
        h.panel.click(C::Command17);
        h.port.opened = false;
        h.panel.click(C::Command17); // sent in between: a new time
        QCOMPARE(h.view.warnings, (Texts{lost, unsent, unsent}));
        QCOMPARE(h.view.quits, 0);
    }

    // A chatty or broken device can neither grow memory nor keep a query from decoding.
    void receiveBufferIsBounded() {
        PanelHarness h;
        h.started();
        std::mt19937 random(7);
        for (int piece = 0; piece < 256; ++piece) { // 1 MiB of garbage in 4 KiB pieces
            std::string bytes(4096, '\0');
            std::generate(bytes.begin(), bytes.end(), [&] { return char(random()); });
            h.reply(bytes);
        }
        QCOMPARE(h.state().receiveBuffer.size(), std::size_t{1024});
        QVERIFY(h.box(C::Label12).size() <= 1 + 3 * 1024);
        h.panel.click(C::Command44);
        h.clock.advance(500ms);      // the reply window empties the garbage
        h.panel.click(C::Command46); // L-TIME, answered a digit every 100 ms for 10 minutes
        for (int piece = 0; piece < 6000; ++piece) {
            h.reply(std::string(1, char('0' + piece % 10)));
            h.clock.advance(100ms);
        } // the reply window emptied the buffer once, after the fifth digit
        QCOMPARE(h.box(C::Label22), std::string(" 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 Hour Use"));
        QCOMPARE(h.box(C::Label12).size(), std::size_t{1 + 2 * 1024});
    }

    void rendersEachByte_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("rendered");
        // clang-format off
        const std::pair<QByteArray, const char*> rows[] = {
            {"", " "},       {"\x06", " &"},          {"\x06\r", " &CR "},
            {"\n", " LF "},   {"ab\r", " a b CR "},    {" ", "   "},
            {"<b>", " < b > "}, {"z{|~\x7f", " z ? ? ? ? "}, {"\x80\xff", " ? ? "},
            {QByteArray("\0\x01\x1f", 3), " ? ? ? "},
        };
        // clang-format on
        for (const auto& [bytes, rendered] : rows) {
            QTest::newRow(bytes.toPercentEncoding().constData()) << bytes << QByteArray(rendered);
        }
    }

    void rendersEachByte() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, rendered);
        QCOMPARE(trafficText(bytes.toStdString()), rendered.toStdString());
    }

    void replies_data() {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("message");
        const struct {
            const char* query;
            const char* reply;
            const char* message;
        } rows[] = {
            // clang-format off
            {"CR0", "00\r", " Power ON"},     {"CR0", "80\r", " Stand by"},
            {"CR0", "40\r", " Count down"},   {"CR0", "20\r", " Cooling down"},
            {"CR0", "10\r", " Power abnormality"},
            {"CR0", "08\r", " Temperature abnormality"}, {"CR0", "18\r", " Temperature abnormality"},
            {"CR0", "28\r", " Temperature abnormality"}, {"CR0", "48\r", " Temperature abnormality"},
            {"CR0", "88\r", " Temperature abnormality"},
            {"CR0", "00", " Power ON"}, // as soon as both characters are in
            {"CR0", "90\r", ""}, {"CR0", "C0\r", ""}, {"CR0", "38\r", ""}, {"CR0", "0", ""},
            {"CR0", "\x06" "00\r", ""}, // a leading ACK moves the characters
            {"CR1", "1\r", " Input 1"}, {"CR1", "2\r", " Input 2"}, {"CR1", "3", " Input 3"},
            {"CR1", "4\r", " Input 4"}, {"CR1", "5\r", ""},        {"CR1", "", ""},
            {"CR4", "11\r", " Normally"},            {"CR4", "10\r", " Top/Bottom reversal"},
            {"CR4", "01\r", " Left/Right reversal"}, {"CR4", "12\r", ""},
            {"CR4", "00\r", " Top/Bottom , Left/Right reversal"},
            {"CR3", "12345\r", " 1 2 3 4 5 CR  Hour Use"}, {"CR3", "", "  Hour Use"},
            {"CR3", "12345678901234567\r", " 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 CR  Hour Use"},
            {"CR3", "1234567890123456789012", " 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 Hour Use"},
            {"CR6", "12345678901\r", "  S1= 1 2 3 4 5 C  ,   S2=  8 9 0 1 C"},
            {"CR6", "1234\r", "  S1= 1 2 3 4 C C  ,   S2=  C"},
            {"CR6", "", "  S1=  C  ,   S2=  C"},
            {"CR7", "1A\r", " No2,4 ON  : 2 Lamp mode(1,4)"}, {"CR7", "00\r", " All OFF : 4 Lamp mode"},
            {"CR7", "15\r", " No1,3 ON  : 2 Lamp mode(1,4)"}, {"CR7", "2F\r", " All ON  : 2 Lamp mode(2,3)"},
            {"CR7", "01", " No1 ON  : 4 Lamp mode"},     {"CR7", "02", " No2 ON  : 4 Lamp mode"},
            {"CR7", "03", " No1,2 ON  : 4 Lamp mode"},   {"CR7", "04", " No3 ON  : 4 Lamp mode"},
            {"CR7", "26", " No2,3 ON  : 2 Lamp mode(2,3)"}, {"CR7", "27", " No1,2,3 ON  : 2 Lamp mode(2,3)"},
            {"CR7", "18", " No4 ON  : 2 Lamp mode(1,4)"}, {"CR7", "19", " No1,4 ON  : 2 Lamp mode(1,4)"},
            {"CR7", "0B", " No1,2,4 ON  : 4 Lamp mode"}, {"CR7", "2C", " No3,4 ON  : 2 Lamp mode(2,3)"},
            {"CR7", "1D", " No1,3,4 ON  : 2 Lamp mode(1,4)"}, {"CR7", "0E", " No2,3,4 ON  : 4 Lamp mode"},
            {"CR7", "1a\r", ""}, {"CR7", "30\r", ""}, {"CR7", "0G\r", ""},
            {"C00", "00\r", ""}, {"C70", "00\r", ""}, // not a query: shown, never decoded
            // clang-format on
        };
        for (const auto& row : rows) {
            QTest::addRow("%s %s", row.query, QByteArray(row.reply).toPercentEncoding().constData())
                << QByteArray(row.query) << QByteArray(row.reply) << QString::fromUtf8(row.message);
        }
    }

    void replies() {
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, reply);
        QFETCH(QString, message);
        QCOMPARE(decoded(query, reply), message);
    }

    void repeatsAtItsPeriod_data() {
        QTest::addColumn<int>("index");
        for (const HoldCase& c : kCases) {
            QTest::newRow(c.name) << int(&c - kCases);
        }
    }

    void repeatsAtItsPeriod() {
        QFETCH(int, index);
        const HoldCase& c = kCases[index];
        PanelHarness h;
        h.started();
        for (Control b : c.before) {
            h.panel.click(b);     // acts on selectors only
            h.pressAndRelease(b); // acts on hold buttons only
        }
        h.clock.advance(2000ms);
        h.port.clearRecords();
        const milliseconds start = h.clock.now();
        // Held for two and a half periods: copies at 0, one and two periods.
        h.panel.press(c.held);
        h.panel.press(c.held); // another mouse button on the held button: nothing new
        QCOMPARE(h.clock.interval(TimerId::Timer2), milliseconds(c.replyWindow));
        QCOMPARE(h.clock.interval(TimerId::Timer4), milliseconds(c.clearDelay));
        h.clock.advance(milliseconds(c.period * 5 / 2));
        h.panel.release(c.held);
        h.clock.advance(2000ms);   // nothing after the release
        h.pressAndRelease(c.held); // a press and an immediate release: exactly one copy
        h.clock.advance(2000ms);
        const milliseconds p(c.period);
        QVERIFY(h.port.writeTimes ==
                (std::vector{start, start + p, start + 2 * p, start + p * 5 / 2 + 2000ms}));
        QCOMPARE(h.port.writes, std::vector<std::string>(4, c.frame));
        QCOMPARE(h.state().repeatCode, 0);
        QCOMPARE(h.clock.interval(TimerId::Timer2), 500ms);
        QCOMPARE(h.clock.interval(TimerId::Timer4), 1000ms);
    }

    // Each copy restarts the reply window: a projector that answers every copy within a few
    // milliseconds never sees one marked unanswered.
    void answeredCopiesAreNeverMarked() {
        PanelHarness h;
        h.started();
        h.panel.click(C::Command10); // ZOOM: arrows repeat every 50 ms, 50 ms reply window
        h.clock.advance(2s);
        h.port.clearRecords();
        const milliseconds start = h.clock.now();
        h.panel.press(C::Command5);
        std::size_t answered = 0;
        while (h.clock.now() - start < 1000ms) {
            if (h.port.writes.size() > answered &&
                h.clock.now() - h.port.writeTimes.back() >= 2ms) {
                h.reply("\x06\r");
                answered = h.port.writes.size();
            }
            h.clock.advance(1ms);
            QVERIFY(h.box(C::Label12) != " X X X X");
            if (h.clock.now() - start == 520ms) {
                h.panel.select(C::Option7); // "003"
            }
        }
        h.panel.release(C::Command5);
        QCOMPARE(h.port.writes.size(), std::size_t{21});
        QCOMPARE(h.port.writes[10], std::string("C3C\r"));
        QCOMPARE(h.port.writes[11], std::string("A003C3C\r")); // the address at each tick
    }

    void volumeHeld600msTimeline() {
        PanelHarness h;
        h.started();
        // At each instant (ms from the press): copies sent and the TXD, RXD and STATUS boxes.
        const auto at = [&](int ms, std::size_t copies, const char* txd, const char* rxd,
                            const char* status) {
            h.clock.advance(milliseconds(ms) - h.clock.now()); // the press is at time 0
            QCOMPARE(h.port.writes.size(), copies);
            QCOMPARE(h.boxes(), std::string(txd) + "|" + rxd + "|" + status);
        };
        const char* vol = " C 0 9 CR ";
        h.panel.press(Control::Command1);
        QCOMPARE(h.clock.interval(TimerId::Timer1), 250ms);
        at(199, 1, vol, "", "");
        at(200, 1, vol, " X X X X", ""); // the first copy's reply window ends
        at(244, 1, vol, " X X X X", "");
        at(245, 1, "", "", ""); // boxes emptied
        at(249, 1, "", "", "");
        at(250, 2, vol, "", ""); // second copy
        at(500, 3, vol, "", ""); // third copy
        at(550, 3, vol, "", "");
        h.panel.click(Control::Command44); // a query answered while the button is held
        h.reply("00\r");
        at(600, 4, " C R 0 CR ", " 0 0 CR ", " Power ON");
        h.panel.release(Control::Command1);
        at(600, 4, "", "", " Power ON"); // TXD and RXD emptied at once, STATUS by Timer4
        QCOMPARE(h.state().receiveBuffer, std::string());
        QCOMPARE(h.state().commandText, std::string("CR0\r")); // a release keeps it
        at(1599, 4, "", "", " Power ON");                      // no " X X X X" for the last copy
        at(1600, 4, "", "", "");
    }

    // A copy goes only once the frames before it have had their time on the wire, 10 bits
    // a character at the line's speed, so that no more than one copy ever waits in buffers
    // the port cannot see; queues it can see, and a far end that holds our data, add to
    // that. An arrow held for 60 ms after a D.Zoom release: a tick every 5 ms.
    void repeatIsPacedByTheLine_data() {
        QTest::addColumn<QString>("speed");   // the speed option
        QTest::addColumn<QString>("address"); // the address option
        QTest::addColumn<int>("queryAt");     // ms from the press; -1: none
        QTest::addColumn<int>("heldFrom");    // the far end holds our data from..until
        QTest::addColumn<int>("heldUntil");
        QTest::addColumn<int>("drainsAfter");   // the port's own queue, ms; 0: none seen
        QTest::addColumn<QList<int>>("copies"); // ms from the press
        const QList<int> everyTick{0, 5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60};
        const QList<int> everyOther{0, 10, 20, 30, 40, 50, 60};
        // clang-format off
        QTest::newRow("19200, 4 bytes: 2.1 ms") << "Option9" << "Option3" << -1 << 0 << 0 << 0 << everyTick;
        QTest::newRow("19200, 8 bytes: 4.2 ms") << "Option9" << "Option5" << -1 << 0 << 0 << 0 << everyTick;
        QTest::newRow("9600, 4 bytes: 4.2 ms") << "Option10" << "Option3" << -1 << 0 << 0 << 0 << everyTick;
        QTest::newRow("9600, 8 bytes: 8.3 ms") << "Option10" << "Option8" << -1 << 0 << 0 << 0 << everyOther;
        QTest::newRow("9600, a query at 12 ms") << "Option10" << "Option8" << 12 << 0 << 0 << 0
                                                 << QList<int>{0, 10, 30, 40, 50, 60};
        QTest::newRow("held from 20 to 40 ms") << "Option9" << "Option3" << -1 << 20 << 40 << 0
                                                << QList<int>{0, 5, 10, 15, 40, 45, 50, 55, 60};
        QTest::newRow("a queue that drains in 9 ms") << "Option9" << "Option5" << -1 << 0 << 0 << 9 << everyOther;
        // clang-format on
    }

    void repeatIsPacedByTheLine() {
        QFETCH(QString, speed);
        QFETCH(QString, address);
        QFETCH(int, queryAt);
        QFETCH(int, heldFrom);
        QFETCH(int, heldUntil);
        QFETCH(int, drainsAfter);
        QFETCH(QList<int>, copies);
        const auto option = [](const QString& name) {
            return static_cast<Control>(
                std::find(kControlNames.begin(), kControlNames.end(), name.toStdString()) -
                kControlNames.begin());
        };
        PanelHarness h;
        h.started();
        h.panel.select(option(speed));
        h.panel.select(option(address));
        h.pressAndRelease(C::Command48); // D.Zoom: arrows repeat every 5 ms
        h.port.queueWrites = drainsAfter > 0;
        h.port.clearRecords();
        const milliseconds start = h.clock.now();
        h.panel.press(C::Command5);
        for (int ms = 1; ms <= 60; ++ms) {
            h.port.held = ms >= heldFrom && ms < heldUntil;
            if (drainsAfter > 0 &&
                h.clock.now() - h.port.writeTimes.back() >= milliseconds(drainsAfter)) {
                h.port.pending = 0;
            }
            if (ms - 1 == queryAt) {
                h.panel.click(C::Command44);
            }
            h.clock.advance(1ms);
        }
        h.panel.release(C::Command5);
        QList<int> sent;
        for (std::size_t i = 0; i < h.port.writes.size(); ++i) {
            if (h.port.writes[i].find("C3C") != std::string::npos) {
                sent << int((h.port.writeTimes[i] - start).count());
            }
        }
        QCOMPARE(sent, copies);
    }

    // A network line that goes away is told in the warning box, which closes once the line
    // is back (open for a second), and tried again after 1 s, then twice as long each time up
    // to 30 s. One that drops as soon as it opens is a try that failed, in the same box. A
    // line that drops again before it has stayed up 30 s goes on from the last wait doubled;
    // one that has stayed up, or whose port the operator chooses, starts again at 1 s.
    void lostNetworkLineComesBack_data() {
        QTest::addColumn<QString>("steps"); // lost, refused, opened, kept (1 s), up (30 s), choose
        QTest::addColumn<QList<int>>("waits"); // ms before each try
        QTest::addColumn<int>("warnings");
        // clang-format off
        QTest::newRow("refused again and again") << "lost refused refused refused refused refused refused opened kept"
            << QList<int>{1000, 2000, 4000, 8000, 16000, 30000, 30000} << 1;
        QTest::newRow("taken and dropped at once") << "lost opened lost opened lost opened lost opened lost opened lost opened kept"
            << QList<int>{1000, 2000, 4000, 8000, 16000, 30000} << 1;
        QTest::newRow("up 30 s, then dropped") << "lost opened kept lost opened kept up lost opened kept"
            << QList<int>{1000, 2000, 1000} << 3;
        QTest::newRow("the operator chooses the port") << "lost refused choose lost opened kept"
            << QList<int>{1000, 1000} << 2;
        // clang-format on
    }

    void lostNetworkLineComesBack() {
        QFETCH(QString, steps);
        QFETCH(QList<int>, waits);
        QFETCH(int, warnings);
        PanelHarness h;
        h.port.connects = true;
        h.started();
        h.panel.opened(SerialResult::success());
        h.panel.press(C::Command15); // Zoom +
        QList<int> tried;
        milliseconds since = h.clock.now();
        const std::string lost = "The serial line rfc2217://hall:7001 went away: the server "
                                 "closed the connection\n\nReconnecting to hall:7001: this box "
                                 "closes when the line is back.";
        for (const QString& step : steps.split(' ')) {
            if (step == "lost") {
                h.port.opened = false;
                h.panel.portLost("rfc2217://hall:7001", "the server closed the connection", true);
                QCOMPARE(h.view.warnings.back(), lost);
                QVERIFY(h.view.warningOpen && h.state().repeatCode == 0);
                QCOMPARE(h.box(C::Label22), std::string(" Reconnecting to hall:7001"));
                since = h.clock.now();
            } else if (step == "choose") {
                h.panel.select(C::Option1); // opened at once, the retries ended
                h.panel.opened(SerialResult::success());
            } else if (step == "up") {
                h.clock.advance(30s);
            } else if (step == "kept") {
                h.clock.advance(1s);
                QVERIFY(!h.view.warningOpen);
                QCOMPARE(h.box(C::Label22), std::string(" Reconnected to hall:7001"));
            } else { // the next try, and its outcome
                h.port.clearRecords();
                while (h.port.calls.empty() && h.clock.now() - since < 100s) {
                    h.clock.advance(1ms);
                }
                tried << int((h.clock.now() - since).count());
                since = h.clock.now();
                h.port.opened = step == "opened";
                h.panel.opened(step == "opened" ? SerialResult::success()
                                                : SerialResult::failure("hall:7001: refused"));
                QVERIFY(h.view.warningOpen); // until it has stayed open a second
                QVERIFY(step == "opened" || h.box(C::Label22) == " Reconnecting to hall:7001");
            }
        }
        QCOMPARE(tried, waits);
        QCOMPARE(int(h.view.warnings.size()), warnings);
        h.port.clearRecords();
        h.clock.advance(100s); // back: nothing more is tried
        QVERIFY(h.port.calls.empty() && !h.view.warningOpen);
        h.panel.lineNote("rfc2217://hall:7001", "the line runs at 9600 bit/s", true);
        QCOMPARE(h.box(C::Label22), std::string(" the line runs at 9600 bit/s"));
        QCOMPARE(h.view.logs.back(),
                 std::string("rfc2217://hall:7001: the line runs at 9600 bit/s"));
    }
};

QTEST_APPLESS_MAIN(TstCore)
#include "tst_core.moc"
