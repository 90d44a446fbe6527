#include "PanelHarness.h"
#include "adjust/Adjust.h"
#include "model/Lookup.h"
#include "traffic/TrafficTimers.h"

using namespace vk9;
using namespace vk9::test;

namespace {

// A hold after some set-up: selectors are clicked, hold buttons pressed and released.
struct HoldCase {
    const char* name;
    std::vector<Control> before;
    Control held;
    int period;      // ms between copies
    int replyWindow; // Timer2 and Timer4 while held
    int clearDelay;
};

using C = Control;
const HoldCase kCases[] = {
    {"VOL +", {}, C::Command1, 250, 200, 245},
    {"Focus -", {}, C::Command37, 50, 25, 25},
    {"SELECT", {}, C::Command6, 500, 200, 245},
    {"Keystone +", {}, C::Command50, 250, 200, 245},
    {"arrow before any selector", {}, C::Command5, 200, 500, 1000},
    {"CURSOL, up", {C::Command43}, C::Command5, 30, 50, 75},
    {"ZOOM, up", {C::Command10}, C::Command5, 50, 50, 75},
    {"FOCUS, down", {C::Command11}, C::Command7, 100, 50, 75},
    {"A-IMAGE, left", {C::Command13}, C::Command9, 200, 150, 190},
    {"MENU ON, right", {C::Command23}, C::Command8, 200, 150, 190},
    {"Lens shift, up", {C::Command41}, C::Command5, 50, 50, 75},
    {"A-IMAGE, MENU OFF, up", {C::Command13, C::Command24}, C::Command5, 200, 150, 190},
    {"VOL +, arrow", {C::Command1}, C::Command5, 250, 500, 1000},
    {"CURSOL, VOL +, arrow", {C::Command43, C::Command1}, C::Command7, 250, 50, 75},
    {"D.Zoom + released, arrow", {C::Command48}, C::Command5, 5, 5, 5},
    {"D.Zoom - released, CURSOL, arrow", {C::Command49, C::Command43}, C::Command8, 30, 50, 75},
    {"lens shift up, after D.Zoom", {C::Command49}, C::Command59, 50, 25, 25},
    {"lens shift left, after A-IMAGE", {C::Command13}, C::Command60, 50, 25, 25},
};

} // namespace

class TstHold : public QObject {
    Q_OBJECT
private slots:
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
            findRow(kHoldButtons, b) ? h.pressAndRelease(b) : h.panel.click(b);
        }
        h.clock.advance(2000ms);
        h.port.clearRecords();
        const milliseconds start = h.clock.now();
        // Held for two and a half periods: copies at 0, one and two periods.
        h.panel.press(c.held);
        QCOMPARE(h.clock.interval(TimerId::Timer2), milliseconds(c.replyWindow));
        QCOMPARE(h.clock.interval(TimerId::Timer4), milliseconds(c.clearDelay));
        h.clock.advance(milliseconds(c.period * 5 / 2));
        h.panel.release(c.held);
        h.clock.advance(2000ms);   // nothing after the release
        h.pressAndRelease(c.held); // a press and an immediate release: exactly one copy
        h.clock.advance(2000ms);
        std::vector<milliseconds> sentAt;
        for (auto t : h.port.writeTimes()) {
            sentAt.push_back(t - start);
        }
        const std::vector<milliseconds> expected{0ms, milliseconds(c.period),
                                                 milliseconds(2 * c.period),
                                                 milliseconds(c.period * 5 / 2 + 2000)};
        QVERIFY(sentAt == expected);
        const std::string frame = std::string(findRow(kHoldButtons, c.held)->code) + "\r";
        QCOMPARE(h.port.writes(), std::vector<std::string>(4, frame));
        QCOMPARE(h.state().repeatCode, 0);
        QCOMPARE(h.clock.interval(TimerId::Timer2), kReplyWindow);
        QCOMPARE(h.clock.interval(TimerId::Timer4), kClearDelay);
    }

    void volumeHeld600msTimeline() {
        PanelHarness h;
        h.started();
        // At each instant (ms from the press): copies sent and the TXD, RXD and STATUS boxes.
        const auto at = [&](int ms, std::size_t copies, const char* txd, const char* rxd,
                            const char* status) {
            h.clock.advance(milliseconds(ms) - h.clock.now()); // the press is at time 0
            QCOMPARE(h.port.writes().size(), copies);
            QCOMPARE(h.box(kTxdBox) + "|" + h.box(kRxdBox) + "|" + h.box(kStatusBox),
                     std::string(txd) + "|" + rxd + "|" + status);
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

    void ticksTakeTheAddressCurrentAtTheTick() {
        PanelHarness h;
        h.started();
        h.panel.press(Control::Command15); // Zoom +, every 50 ms
        h.clock.advance(60ms);
        h.panel.select(Control::Option7);
        h.clock.advance(40ms);
        h.panel.select(Control::Option4);
        h.clock.advance(50ms);
        h.panel.release(Control::Command15);
        const std::vector<std::string> frames{"C47\r", "C47\r", "A003C47\r", "AFFFC47\r"};
        QCOMPARE(h.port.writes(), frames);
    }

    void lostCaptureActsAsTheRelease() {
        PanelHarness h;
        h.started();
        h.panel.press(Control::Command49); // D.Zoom -
        h.clock.advance(300ms);
        h.panel.captureLost();
        h.clock.advance(2s);
        QCOMPARE(h.port.writes().size(), std::size_t{2});
        QCOMPARE(h.state().repeatCode, 0);
        QCOMPARE(h.clock.interval(TimerId::Timer1), kDigitalZoomRepeat); // its release's effects
        QCOMPARE(int(h.state().adjustTarget), 3);
        h.panel.captureLost(); // nothing held: nothing happens
        QCOMPARE(h.port.writes().size(), std::size_t{2});
    }

    void backlogOnASlowLineIsAtMostOneCopy() {
        // An addressed frame needs 8.3 ms at 9600 bit/s: the line drains 9 ms after each write.
        PanelHarness h;
        h.started();
        h.pressAndRelease(Control::Command48); // D.Zoom release: 5 ms repeat
        h.panel.select(Control::Option5);
        h.port.clearRecords();
        h.port.setQueueWrites(true);
        const milliseconds start = h.clock.now();
        h.panel.press(Control::Command5);
        for (int ms = 0; ms < 100; ++ms) {
            h.clock.advance(1ms);
            QVERIFY(h.port.pendingOutput() <= 8);
            if (h.clock.now() - start - h.port.writeTimes().back() >= 9ms) {
                h.port.drain();
            }
        }
        h.panel.release(Control::Command5);
        std::vector<milliseconds> expected;
        for (int copy = 0; copy <= 10; ++copy) {
            expected.push_back(start + milliseconds(10 * copy)); // every other 5 ms tick
        }
        QVERIFY(h.port.writeTimes() == expected);
    }
};

QTEST_APPLESS_MAIN(TstHold)
#include "tst_hold.moc"
