
#include "model/Layout.h"
#include "support/WindowFixture.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

using namespace vk9;
using namespace vk9::qt;
using namespace vk9::test;

namespace {

template <class Table> void checkGeometry(const PanelWindow& f, const Table& table) {
    for (const auto& row : table) {
        const QWidget* w = f.form->findChild<QWidget*>(QString::fromLatin1(controlName(row.id)));
        QVERIFY2(w != nullptr, controlName(row.id).data());
        QCOMPARE(w->parentWidget(), f.form->control(row.container));
        const QRect expected(toPixels(row.rect.left), toPixels(row.rect.top),
                             toPixels(row.rect.width), toPixels(row.rect.height));
        QCOMPARE(w->geometry(), expected);
    }
}

} // namespace

class TstForm1 : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(*qApp); }

    void startsWithTitleWidthAndShortHeight() {
        PanelWindow f;
        QCOMPARE(f.form->windowTitle(), QStringLiteral("ORVA   VK9  CONTROL  Ver.1.30"));
        QCOMPARE(f.form->width(), 9495 / 15);
        QCOMPARE(f.form->height(), toPixels(clientHeightFor(kStartHeight)));
        QVERIFY(f.form->serialPort().isOpen());
        QVERIFY(!f.get(Control::Frame8)->isVisible());
        QCOMPARE(f.form->findChild<QPushButton*>("Command17")->text(), QStringLiteral("ON"));
        QCOMPARE(f.get(Control::Command1)->accessibleName(), QStringLiteral("VOL +"));
        QVERIFY(f.get(Control::Label22)->accessibleName().isEmpty()); // boxes read their text
        QTest::qWait(50);
        QCOMPARE(f.copies("\r"), 0); // start-up writes nothing
        QVERIFY(f.warnings.texts.isEmpty());
    }

    void missingPortIsToldOnceAndPanelKeepsRunning() {
        qputenv("VK9RSC_COM1", "/nonexistent/vk9rsc-com1");
        WarningCatcher catcher;
        Form1 form;
        QVERIFY(catcher.texts.isEmpty()); // nothing before the window is shown
        form.show();
        QTRY_COMPARE(catcher.texts.size(), 1);
        QCOMPARE(catcher.title, QStringLiteral("VK9RSC"));
        QVERIFY(catcher.texts.front().contains("/nonexistent/vk9rsc-com1"));
        QVERIFY(!form.serialPort().isOpen());
        form.findChild<QPushButton*>("Command17")->click();
        QCOMPARE(form.findChild<QLabel*>("Label22")->text(),
                 QStringLiteral(" Not sent: no serial port is open"));
        QTest::qWait(50);
        QCOMPARE(catcher.texts.size(), 1);
    }

    void everyControlStandsWhereItsRowSays() {
        PanelWindow f;
        checkGeometry(f, kFrames);
        checkGeometry(f, kButtons);
        checkGeometry(f, kLabels);
        checkGeometry(f, kOptions);
        for (const auto& row : kButtons) {
            QCOMPARE(!f.get(row.id)->isHidden(), row.visible);
            QCOMPARE(f.get<QPushButton>(row.id)->text(), QString::fromUtf8(row.caption.data()));
        }
        for (const auto& row : kFrames) {
            QCOMPARE(!f.get(row.id)->isHidden(), row.visible);
        }
        for (const auto& row : kOptions) {
            const bool selected = row.selected || row.id == Control::Option1; // start-up's choice
            QCOMPARE(f.get<QRadioButton>(row.id)->isChecked(), selected);
        }
        QCOMPARE(f.get(Control::Image1)->size(), QSize(80, 26));
    }

    void optionGroupsAreIndependent() {
        PanelWindow f;
        Pty second;
        qputenv("VK9RSC_COM2", second.device().toLocal8Bit());
        f.click(Control::Command33);                                 // COM shows the settings
        QTest::mouseClick(f.get(Control::Option10), Qt::LeftButton); // 9600
        QVERIFY(f.get<QRadioButton>(Control::Option10)->isChecked());
        QVERIFY(f.get<QRadioButton>(Control::Option1)->isChecked());
        QCOMPARE(f.form->state().portSettings, std::string("9600,N,8,1"));
        f.click(Control::Command33);
        QTest::mouseClick(f.get(Control::Option2), Qt::LeftButton); // COM2
        QVERIFY(f.get<QRadioButton>(Control::Option2)->isChecked());
        QVERIFY(f.get<QRadioButton>(Control::Option10)->isChecked());
        QCOMPARE(f.form->serialPort().portNumber(), 2);
        QTest::mouseClick(f.get(Control::Option6), Qt::LeftButton); // 002
        QVERIFY(!f.get<QRadioButton>(Control::Option3)->isChecked());
        QVERIFY(f.get<QRadioButton>(Control::Option2)->isChecked());
        QVERIFY(f.get<QRadioButton>(Control::Option10)->isChecked());
        QCOMPARE(f.form->state().addressPrefix, std::string("A002"));
        qunsetenv("VK9RSC_COM2");
    }

    void heightsShowTheirBands() {
        PanelWindow f;
        // Every control of the window is wholly in view when its designed bottom edge is at
        // or above the given line (twips), and wholly out of view otherwise.
        const auto check = [&](int lastShown) {
            const auto band = [&](const auto& table) {
                for (const auto& row : table) {
                    if (row.container != Control::Form1) {
                        continue; // they move with their frame
                    }
                    const QRect r = f.inWindow(row.id);
                    QVERIFY2(row.rect.bottom() <= lastShown ? r.bottom() < f.form->height()
                                                            : r.top() >= f.form->height(),
                             controlName(row.id).data());
                }
            };
            band(kFrames);
            band(kButtons);
            band(kLabels);
        };
        check(4740); // 5200 at start-up: the upper panel, down to the settings frame
        QTest::keyClick(f.form->windowHandle(), Qt::Key_J, Qt::ControlModifier);
        check(6765); // 7200: everything, down to the address frame
        f.click(Control::Command34);
        check(4740);
        f.click(Control::Command34);
        check(6255); // 6645: the data area, without the bottom row
    }

    void focusStartsOnPowerOnAndFollowsTheTabOrder() {
        PanelWindow f;
        QCOMPARE(QApplication::focusWidget(), f.get(Control::Command17));
        QTest::keyClick(f.form->windowHandle(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), f.get(Control::Command1)); // tab index 5
        QTest::keyClick(f.form->windowHandle(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), f.get(Control::Command2));
    }

    void ctrlJSeenBeforeTheFocusedControl_data() {
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("focus");
        QTest::addColumn<bool>("opens");
        const int ctrl = Qt::ControlModifier;
        const int button = int(Control::Command44);
        const int option = int(Control::Option3);
        QTest::newRow("Ctrl, button focused") << ctrl << button << true;
        QTest::newRow("Ctrl, option focused") << ctrl << option << true;
        QTest::newRow("Ctrl+Shift")
            << int(Qt::ControlModifier | Qt::ShiftModifier) << button << false;
    }

    void ctrlJSeenBeforeTheFocusedControl() {
        QFETCH(int, modifiers);
        QFETCH(int, focus);
        QFETCH(bool, opens);
        PanelWindow f;
        QWidget* focused = f.get(static_cast<Control>(focus));
        focused->setFocus();
        int keysAtControl = 0;
        struct Counter : QObject {
            int& count;
            explicit Counter(int& c) : count(c) {}
            bool eventFilter(QObject*, QEvent* e) override {
                if (e->type() == QEvent::KeyPress &&
                    static_cast<QKeyEvent*>(e)->key() == Qt::Key_J) {
                    ++count;
                }
                return false;
            }
        } counter(keysAtControl);
        focused->installEventFilter(&counter);
        QTest::keyClick(f.form->windowHandle(), Qt::Key_J, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(f.get(Control::Command34)->isVisible(), opens);
        QCOMPARE(f.form->height(), toPixels(clientHeightFor(opens ? kFullHeight : kStartHeight)));
        QCOMPARE(keysAtControl, 1); // the key still reaches the control
        QVERIFY(f.pty->readAvailable().isEmpty());
    }

    void failedPortChoiceKeepsItsOptionAndCanBeRetried() {
        PanelWindow f;
        qputenv("VK9RSC_COM2", "/nonexistent/vk9rsc-com2");
        WarningCatcher& catcher = f.warnings;
        f.click(Control::Command33);
        QTest::mouseClick(f.get(Control::Option2), Qt::LeftButton);
        QTRY_COMPARE(catcher.texts.size(), 1);
        QVERIFY(catcher.texts.front().contains("/nonexistent/vk9rsc-com2"));
        QVERIFY(f.get<QRadioButton>(Control::Option2)->isChecked());
        QVERIFY(f.get(Control::Frame8)->isVisible());
        QVERIFY(!f.form->serialPort().isOpen());
        QCOMPARE(f.form->serialPort().portNumber(), 1);

        // Plugged in now: clicking the selected "COM2" again opens it.
        Pty second;
        qputenv("VK9RSC_COM2", second.device().toLocal8Bit());
        QTest::mouseClick(f.get(Control::Option2), Qt::LeftButton);
        QVERIFY(f.form->serialPort().isOpen());
        QCOMPARE(f.form->serialPort().portNumber(), 2);
        QVERIFY(!f.get(Control::Frame8)->isVisible());
        QCOMPARE(catcher.texts.size(), 1);
        qunsetenv("VK9RSC_COM2");
    }
};

QTEST_MAIN(TstForm1)
#include "tst_form1.moc"
