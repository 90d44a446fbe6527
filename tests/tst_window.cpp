// The real window, offscreen, driven through its widgets by object name, with a real
// pseudo-terminal as port 1: what every button puts on the line, the look the operator
// relies on, the keyboard, and the drills of a hold that loses its release or its line.
#include "support/WindowFixture.h"

#include <QRadioButton>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTemporaryDir>

#include <termios.h>

using namespace vk9;
using namespace vk9::test;
using ms = std::chrono::milliseconds;

namespace {

// Every button that sends, as the projector's command list gives it: its code, then the
// repeat period, reply window and clearing delay once it is pressed (holds) or clicked, the
// repeat period a release leaves (0: unchanged) and the adjustment target left behind.
struct Sends {
    const char* button;
    const char* code;
    bool hold = false;
    int period = 200;
    int replyWindow = 500;
    int clearDelay = 1000;
    int afterRelease = 0;
    int target = 0;
};

// clang-format off
const Sends kSends[] = {
    {"Command17", "C00"}, {"Command18", "C02"}, {"Command27", "C05"}, {"Command28", "C06"},
    {"Command29", "C07"}, {"Command53", "C08"}, {"Command24", "C1D"}, {"Command19", "C0B"},
    {"Command20", "C0C"}, {"Command21", "C0D"}, {"Command22", "C0E"}, {"Command25", "C43"},
    {"Command26", "C44"}, {"Command31", "C0F"}, {"Command32", "C10"}, {"Command4", "C1F"},
    {"Command14", "C8A"}, {"Command3", "C1E"},  {"Command56", "C70"}, {"Command57", "C71"},
    {"Command58", "C72"}, {"Command44", "CR0"}, {"Command45", "CR1"}, {"Command46", "CR3"},
    {"Command47", "CR4"}, {"Command54", "CR6"}, {"Command55", "CR7"}, {"Command52", "C01"},
    {"Command10", "C80", false, 50, 500, 1000, 0, 2},  {"Command11", "C87", false, 100, 500, 1000, 0, 2},
    {"Command41", "C88", false, 50, 500, 1000, 0, 2},  {"Command43", "C4F", false, 30, 500, 1000, 0, 2},
    {"Command13", "C89", false, 200, 500, 1000, 0, 1}, {"Command23", "C1C", false, 200, 500, 1000, 0, 1},
    {"Command1", "C09", true, 250, 200, 245},  {"Command2", "C0A", true, 250, 200, 245},
    {"Command15", "C47", true, 50, 25, 25},    {"Command35", "C46", true, 50, 25, 25},
    {"Command36", "C4B", true, 50, 25, 25},    {"Command37", "C4A", true, 50, 25, 25},
    {"Command6", "C3F", true, 500, 200, 245},  {"Command50", "C8E", true, 250, 200, 245},
    {"Command48", "C30", true, 250, 200, 245, 5, 3}, {"Command49", "C31", true, 250, 200, 245, 5, 3},
    {"Command51", "C8F", true, 250, 200, 245}, {"Command59", "C5D", true, 50, 25, 25},
    {"Command62", "C5E", true, 50, 25, 25},    {"Command60", "C5F", true, 50, 25, 25},
    {"Command61", "C60", true, 50, 25, 25},    {"Command5", "C3C", true},
    {"Command7", "C3D", true}, {"Command9", "C3B", true}, {"Command8", "C3A", true},
};
// The address options and the prefix each puts in front of every frame.
const std::pair<const char*, const char*> kAddresses[] = {
    {"Option3", ""}, {"Option4", "AFFF"}, {"Option5", "A001"},
    {"Option6", "A002"}, {"Option7", "A003"}, {"Option8", "A004"},
};
// clang-format on

} // namespace

class TstWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qt::prepareApplication(*qApp); }

    void everyButtonPutsItsFrameOnTheLine_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QByteArray>("prefix");
        for (const Sends& s : kSends) {
            const int row = int(&s - kSends);
            const auto& [option, prefix] = kAddresses[row % std::size(kAddresses)];
            QTest::addRow("%s %s", s.button, option) << row << option << QByteArray(prefix);
        }
    }

    void everyButtonPutsItsFrameOnTheLine() {
        QFETCH(int, row);
        QFETCH(QString, address);
        QFETCH(QByteArray, prefix);
        const Sends& s = kSends[row];
        const QByteArray frame = prefix + s.code + '\r';
        PanelWindow p;
        p.click(address);
        const auto interval = [&](TimerId id) { return p.form->timers().interval(id); };
        if (s.hold) {
            p.mouse(true, s.button);
            QCOMPARE(interval(TimerId::Timer2), ms(s.replyWindow));
            QCOMPARE(interval(TimerId::Timer4), ms(s.clearDelay));
            QCOMPARE(interval(TimerId::Timer1), ms(s.period));
            QTRY_VERIFY(p.copies(frame) >= 2); // the repeat sends the same frame
            p.mouse(false, "Command16");       // released over "END": the held button gets it
            QVERIFY(p.form->isVisible() && p.form->state().repeatCode == 0);
            QCOMPARE(interval(TimerId::Timer2), ms(500));
            QCOMPARE(interval(TimerId::Timer4), ms(1000));
        } else {
            p.click(s.button);
            QTRY_COMPARE(p.copies(frame), 1);
        }
        const int copies = p.copies(frame);
        QCOMPARE(p.line, frame.repeated(copies));
        QCOMPARE(interval(TimerId::Timer1), ms(s.afterRelease ? s.afterRelease : s.period));
        QCOMPARE(int(p.form->state().adjustTarget), s.target);
    }

    void startsAsDesigned() {
        PanelWindow p;
        QCOMPARE(p.form->windowTitle(), QStringLiteral("ORVA   VK9  CONTROL  Ver.1.30"));
        // Client areas: 633 px for 9495 twips wide. The outer heights less 390 twips of frame
        // leave 4810 (to the settings frame), 6810 (the whole panel) and 6255 (down to the
        // status queries; the address frame starts at 6285) twips high.
        QCOMPARE(p.form->size(), QSize(633, 321));
        QCOMPARE(QApplication::focusWidget(), p.get("Command17")); // "POWER" "ON"
        QTest::keyClick(p.form->windowHandle(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), p.get("Command1")); // tab index 5
        QCOMPARE(p.get("Command1")->accessibleName(), QStringLiteral("VOL +"));
        // Frame12 takes the system's face colour, like "COM"; every bordered box draws the
        // same dark line, whatever colour its text has.
        const QColor face = QApplication::palette().color(QPalette::Button);
        QCOMPARE(p.get("Frame12")->palette().color(QPalette::Window), face);
        QCOMPARE(p.get("Command33")->palette().color(QPalette::Button), face);
        const QColor dark = QApplication::palette().color(QPalette::WindowText);
        for (const char* box : {"Label11", "Label12", "Label22"}) {
            const QImage image = p.get(box)->grab().toImage();
            QCOMPARE(image.pixelColor(0, image.height() / 2), dark);
            QCOMPARE(image.pixelColor(image.width() / 2, image.height() - 1), dark);
        }
        QCOMPARE(p.get("Label22")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QCOMPARE(p.settledCopies("\r"), 0); // start-up writes nothing
        QTest::keyClick(p.form->windowHandle(), Qt::Key_J, Qt::ControlModifier);
        QCOMPARE(p.form->height(), 454);
        p.click("Command34");
        QCOMPARE(p.form->height(), 321);
        p.click("Command34");
        QCOMPARE(p.form->height(), 417);
    }

    // Return, Enter and Space click a focused button once, however long they are held; the
    // keyboard never starts a repeat.
    // Ctrl+J opens the whole panel whatever has the focus, and the key goes on to it.
    void keysOnAFocusedControl_data() {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("Return, one-shot")
            << "Command18" << int(Qt::Key_Return) << QByteArray("C02\r");
        QTest::newRow("Enter, selector")
            << "Command11" << int(Qt::Key_Enter) << QByteArray("C87\r");
        QTest::newRow("Space, one-shot")
            << "Command25" << int(Qt::Key_Space) << QByteArray("C43\r");
        QTest::newRow("Space, hold") << "Command15" << int(Qt::Key_Space) << QByteArray();
        QTest::newRow("Return, hold") << "Command15" << int(Qt::Key_Return) << QByteArray();
        QTest::newRow("Ctrl+J, option")
            << "Option3" << (Qt::CTRL | Qt::Key_J).toCombined() << QByteArray();
        QTest::newRow("Ctrl+Shift+J")
            << "Command44" << (Qt::CTRL | Qt::SHIFT | Qt::Key_J).toCombined() << QByteArray();
    }

    void keysOnAFocusedControl() {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(QByteArray, sent);
        PanelWindow p;
        p.get(focus)->setFocus();
        const auto k = Qt::Key(key & ~Qt::KeyboardModifierMask);
        const auto modifiers = Qt::KeyboardModifiers(key & Qt::KeyboardModifierMask);
        QTest::keyPress(p.form->windowHandle(), k, modifiers);
        // Held: X tells each repeat as a release and a press at one moment, marked as a
        // repeat or not.
        for (int i = 0; i < 8 && modifiers == Qt::NoModifier; ++i) {
            for (const auto type : {QEvent::KeyRelease, QEvent::KeyPress}) {
                QKeyEvent repeat(type, k, modifiers, {}, i % 2 == 0);
                repeat.setTimestamp(660 + 40 * i);
                QApplication::sendEvent(p.get(focus), &repeat);
            }
        }
        QTest::qWait(300); // long enough for a repeat to show, were one started
        QTest::keyRelease(p.form->windowHandle(), k, modifiers);
        QTRY_COMPARE((p.line += p.pty->read()), sent);
        const bool opens = key == (Qt::CTRL | Qt::Key_J).toCombined();
        QCOMPARE(p.form->height(), opens ? 454 : 321); // 7200 and 5200, less the frame
        QCOMPARE(p.get("Command34")->isVisible(), opens);
        QCOMPARE(QApplication::focusWidget(), p.get(focus));
    }

    // --com1 names port 1's line before the variable; --log keeps every frame and reply.
    void launchOptions() {
        QTemporaryDir dir;
        Pty line;
        qt::LaunchOptions options{{line.device.toStdString(), ""}, {}, dir.filePath("traffic.log")};
        auto p = std::make_unique<PanelWindow>("/nonexistent/vk9rsc-com1", options);
        QCOMPARE(p->get("Option1")->toolTip(), "Port 1: " + line.device);
        p->click("Command44");
        line.send("00\r");
        QTRY_COMPARE(p->text("Label22"), QStringLiteral(" Power ON"));
        QCOMPARE(line.read(), QByteArray("CR0\r"));
        p.reset(); // the log is flushed at the end
        QFile log(dir.filePath("traffic.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QStringList lines = QString(log.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        const QString stamp = R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )";
        QVERIFY(QRegularExpression(stamp + R"(TX \| C R 0 CR \|$)").match(lines[0]).hasMatch());
        QVERIFY(
            QRegularExpression(stamp + R"(RX \| 0 0 CR \| Power ON$)").match(lines[1]).hasMatch());
        // A log that cannot be written: the panel goes on without it.
        options.trafficLog = dir.filePath("no/such/folder/traffic.log");
        PanelWindow q("/nonexistent/vk9rsc-com1", options);
        q.click("Command17");
        QByteArray atFarEnd;
        QTRY_COMPARE((atFarEnd += line.read()), QByteArray("C00\r"));
        // A lines file with an error: told at start, with what it caused; the panel runs.
        q.form.reset();
        options = {{}, {"/etc/vk9rsc/lines.toml", {}, "/etc/vk9rsc/lines.toml:2: unknown key"}, {}};
        PanelWindow r("/nonexistent/vk9rsc-com1", options);
        QTRY_COMPARE(r.warnings().size(), 1);
        QVERIFY2(
            r.warnings()[0].startsWith("VK9RSC: /etc/vk9rsc/lines.toml:2: unknown key\nThe "
                                       "lines file is not used.\n\n/nonexistent/vk9rsc-com1: "),
            qPrintable(r.warnings()[0]));
    }

    void portAndSpeedChoices() {
        PanelWindow p;
        Pty second;
        qputenv("VK9RSC_COM2", second.device.toLocal8Bit());
        p.click("Command33");                                 // "COM" shows the settings
        QTest::mouseClick(p.get("Option10"), Qt::LeftButton); // 9600, in place
        termios tio{};
        QVERIFY(tcgetattr(p.pty->slave, &tio) == 0 && cfgetospeed(&tio) == B9600);
        QVERIFY(p.get<QRadioButton>("Option1")->isChecked() && !p.get("Frame8")->isVisible());
        p.click("Command33");
        QTest::mouseClick(p.get("Option2"), Qt::LeftButton); // "COM2" keeps 9600
        QVERIFY(p.get<QRadioButton>("Option10")->isChecked() &&
                !p.get<QRadioButton>("Option1")->isChecked());
        QVERIFY(tcgetattr(second.slave, &tio) == 0 && cfgetospeed(&tio) == B9600);
        p.click("Command17");
        QByteArray atSecond;
        QTRY_COMPARE((atSecond += second.read()), QByteArray("C00\r"));

        // Busy elsewhere, under its real name while the panel is given a symbolic link to it:
        // refused, told who holds it, the option stays; free again: clicked again, opens.
        QTemporaryDir dir;
        Pty third;
        const QString link = dir.filePath("com2");
        QVERIFY(QFile::link(third.device, link));
        QSerialPort elsewhere(third.device);
        QVERIFY(elsewhere.open(QIODevice::ReadWrite));
        qputenv("VK9RSC_COM2", link.toLocal8Bit());
        p.click("Command33");
        QTest::mouseClick(p.get("Option2"), Qt::LeftButton);
        QCOMPARE(p.warnings(), QStringList{QStringLiteral("VK9RSC: %1 is in use by process %2 "
                                                          "(tst_window)")
                                               .arg(link)
                                               .arg(QCoreApplication::applicationPid())});
        QVERIFY(p.get<QRadioButton>("Option2")->isChecked() && p.get("Frame8")->isVisible());
        QVERIFY(!p.form->serialPort().isOpen() && p.form->serialPort().portNumber() == 1);
        p.dismissWarnings();
        elsewhere.close();
        QTest::mouseClick(p.get("Option2"), Qt::LeftButton);
        QVERIFY(p.form->serialPort().isOpen() && !p.get("Frame8")->isVisible());
        qunsetenv("VK9RSC_COM2");
    }

    // The boxes and the settings frame count from the latest transmission or click: the
    // wiring, read off the real timers. When they fire is checked on the virtual clock.
    void trafficTimersCountFromTheLatest() {
        PanelWindow p;
        const qt::QtTimers& t = p.form->timers();
        p.click("Command33"); // the settings frame, for 5 s
        p.click("Command44"); // the reply window and the clearing of the boxes
        QTest::qWait(100);
        QVERIFY(t.remaining(TimerId::Timer2) <= ms(400) &&
                t.remaining(TimerId::Timer3) <= ms(4900));
        p.click("Command17");
        QVERIFY(t.remaining(TimerId::Timer2) > ms(450) && t.remaining(TimerId::Timer4) > ms(950));
        p.click("Command33");
        QVERIFY(t.remaining(TimerId::Timer3) > ms(4950));
        QVERIFY(t.interval(TimerId::Timer2) == ms(500) && t.interval(TimerId::Timer3) == ms(5000));
    }

    // Another window activated, or the held button hidden: either acts as the release.
    void holdEndsWhenItsButtonLosesTheMouse() {
        for (const bool hide : {false, true}) {
            PanelWindow p;
            p.mouse(true, "Command49", Qt::RightButton); // D.Zoom -, with any mouse button
            QTRY_VERIFY(p.copies("C31\r") >= 2);
            QWidget other;
            if (hide) {
                p.get("Command49")->hide();
            } else {
                other.show();
                other.activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(&other));
            }
            QCOMPARE(p.form->state().repeatCode, 0);
            QCOMPARE(p.form->timers().interval(TimerId::Timer1), ms(5)); // the release's own
            const int atLoss = p.settledCopies("C31\r");
            QCOMPARE(p.settledCopies("C31\r"), atLoss);
        }
    }

    // A vanished device raises error after error until it is closed: one loss is told, the
    // hold stops with it, and the mouse-up after it does nothing more.
    void lineVanishesMidHold() {
        PanelWindow p;
        p.mouse(true, "Command15");
        QTRY_VERIFY(p.copies("C47\r") >= 3);
        const QString device = p.pty->device;
        p.pty.reset(); // the far end hangs up
        const QStringList lost{"VK9RSC: The serial line " + device +
                               " went away: the line hung "
                               "up\n\nChoose COM, then its port, once it is back."};
        QTRY_COMPARE(p.warnings(), lost);
        QCOMPARE(p.form->state().repeatCode, 0);
        QVERIFY(!p.form->serialPort().isOpen() && !p.form->timers().isRunning(TimerId::Timer1));
        p.mouse(false, "Command15");
        QTest::qWait(100);
        QCOMPARE(p.warnings(), lost);

        // Back again: choosing the port brings the panel on line.
        p.dismissWarnings();
        p.pty = std::make_unique<Pty>();
        qputenv("VK9RSC_COM1", p.pty->device.toLocal8Bit());
        p.click("Command33");
        QTest::mouseClick(p.get("Option1"), Qt::LeftButton);
        p.click("Command17");
        QTRY_COMPARE(p.copies("C00\r"), 1);
    }
};

QTEST_MAIN(TstWindow)
#include "tst_window.moc"
