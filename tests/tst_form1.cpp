#include "Form1.h"

#include "panel/Layout.h"
#include "support/Pty.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QWindow>
#include <QtTest>

using namespace vk9;
using namespace vk9::qt;
using namespace vk9::test;

namespace {

// Closes the modal warning box as soon as it appears and keeps its texts.
struct WarningCatcher {
    QStringList texts;
    QString title;
    QTimer timer;
    WarningCatcher() {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts << box->text();
                title = box->windowTitle();
                box->accept();
            }
        });
        timer.start();
    }
};

} // namespace

class TstForm1 : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void startsWithTitleWidthAndShortHeight();
    void startUpWritesNothing();
    void missingPortIsToldOnceAndPanelKeepsRunning();
    void statusQueryIsDecodedThroughTheWindow();
    void everyControlStandsWhereItsRowSays();
    void optionGroupsAreIndependent();
    void heightsShowTheirBands();
    void focusStartsOnPowerOnAndFollowsTheTabOrder();
    void ctrlJSeenBeforeTheFocusedControl_data();
    void ctrlJSeenBeforeTheFocusedControl();
    void sharedCaptionsHaveAccessibleNames();
    void failedPortChoiceKeepsItsOptionAndCanBeRetried();
};

void TstForm1::initTestCase() {
    static int argc = 1;
    prepareApplication(*qApp);
    Q_UNUSED(argc);
}

void TstForm1::startsWithTitleWidthAndShortHeight() {
    Pty pty;
    qputenv("VK9RSC_COM1", pty.device().toLocal8Bit());
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.windowTitle(), QStringLiteral("ORVA   VK9  CONTROL  Ver.1.30"));
    QCOMPARE(form.width(), 9495 / 15);
    QCOMPARE(form.height(), toPixels(clientHeightFor(kStartHeight)));
    QVERIFY(form.serialPort().isOpen());
    QVERIFY(!form.control(Control::Frame8)->isVisible());
    QCOMPARE(form.findChild<QPushButton*>("Command17")->text(), QStringLiteral("ON"));
}

void TstForm1::startUpWritesNothing() {
    Pty pty;
    qputenv("VK9RSC_COM1", pty.device().toLocal8Bit());
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTest::qWait(50);
    QCOMPARE(pty.readAvailable(), QByteArray());
}

void TstForm1::missingPortIsToldOnceAndPanelKeepsRunning() {
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

void TstForm1::statusQueryIsDecodedThroughTheWindow() {
    Pty pty;
    qputenv("VK9RSC_COM1", pty.device().toLocal8Bit());
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.findChild<QPushButton*>("Command44")->click(); // STATUS
    QByteArray sent;
    QTRY_COMPARE((sent += pty.readAvailable()), QByteArray("CR0\r"));
    QCOMPARE(form.findChild<QLabel*>("Label11")->text(), QStringLiteral(" C R 0 CR "));
    pty.send("00\r");
    QTRY_COMPARE(form.findChild<QLabel*>("Label22")->text(), QStringLiteral(" Power ON"));
    QCOMPARE(form.findChild<QLabel*>("Label12")->text(), QStringLiteral(" 0 0 CR "));
}

namespace {

// A shown window on a pseudo-terminal port.
struct ShownForm {
    Pty pty;
    std::unique_ptr<Form1> form;
    ShownForm() {
        qputenv("VK9RSC_COM1", pty.device().toLocal8Bit());
        form = std::make_unique<Form1>();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }
    template <class W = QWidget> W* get(Control id) const {
        return qobject_cast<W*>(form->control(id));
    }
    // The control's rectangle in the window's client area, in pixels.
    QRect inWindow(Control id) const {
        QWidget* w = form->control(id);
        return {w->mapTo(form.get(), QPoint(0, 0)), w->size()};
    }
};

template <class Table> void checkGeometry(const ShownForm& f, const Table& table) {
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

void TstForm1::everyControlStandsWhereItsRowSays() {
    ShownForm f;
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

void TstForm1::optionGroupsAreIndependent() {
    ShownForm f;
    Pty second;
    qputenv("VK9RSC_COM2", second.device().toLocal8Bit());
    f.get<QPushButton>(Control::Command33)->click();             // COM shows the settings
    QTest::mouseClick(f.get(Control::Option10), Qt::LeftButton); // 9600
    QVERIFY(f.get<QRadioButton>(Control::Option10)->isChecked());
    QVERIFY(f.get<QRadioButton>(Control::Option1)->isChecked());
    QCOMPARE(f.form->state().portSettings, std::string("9600,N,8,1"));
    f.get<QPushButton>(Control::Command33)->click();
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

void TstForm1::heightsShowTheirBands() {
    ShownForm f;
    const auto shows = [&](Control id) { return f.inWindow(id).bottom() < f.form->height(); };
    const auto hides = [&](Control id) { return f.inWindow(id).top() >= f.form->height(); };
    const std::vector<Control> upper{Control::Frame1,    Control::Frame10,   Control::Command10,
                                     Control::Command41, Control::Command33, Control::Command16,
                                     Control::Command56, Control::Command58, Control::Image1};
    const std::vector<Control> data{Control::Frame9,    Control::Frame12,   Control::Command34,
                                    Control::Command44, Control::Command45, Control::Command54,
                                    Control::Command55};
    const std::vector<Control> bottom{Control::Command52, Control::Frame11};
    const auto check = [&](const std::vector<Control>& band, bool inView) {
        for (Control id : band) {
            QVERIFY2(inView ? shows(id) : hides(id), controlName(id).data());
        }
    };
    // 5200 at start-up: the upper panel only.
    check(upper, true);
    check(data, false);
    // Ctrl+J: everything.
    QTest::keyClick(f.form->windowHandle(), Qt::Key_J, Qt::ControlModifier);
    check(upper, true);
    check(data, true);
    check(bottom, true);
    // The data button: 5200, then 6645 with the data area but not the bottom row.
    f.get<QPushButton>(Control::Command34)->click();
    check(data, false);
    f.get<QPushButton>(Control::Command34)->click();
    check(data, true);
    check(bottom, false);
}

void TstForm1::focusStartsOnPowerOnAndFollowsTheTabOrder() {
    ShownForm f;
    f.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
    QCOMPARE(QApplication::focusWidget(), f.get(Control::Command17));
    QTest::keyClick(f.form->windowHandle(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), f.get(Control::Command1)); // tab index 5
    QTest::keyClick(f.form->windowHandle(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), f.get(Control::Command2));
}

void TstForm1::ctrlJSeenBeforeTheFocusedControl_data() {
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("focus");
    QTest::addColumn<bool>("opens");
    const int ctrl = Qt::ControlModifier;
    const int button = int(Control::Command44);
    const int option = int(Control::Option3);
    QTest::newRow("Ctrl, button focused") << ctrl << button << true;
    QTest::newRow("Ctrl, option focused") << ctrl << option << true;
    QTest::newRow("Ctrl, hold button focused") << ctrl << int(Control::Command1) << true;
    QTest::newRow("none") << int(Qt::NoModifier) << button << false;
    QTest::newRow("Ctrl+Shift") << int(Qt::ControlModifier | Qt::ShiftModifier) << button << false;
    QTest::newRow("Ctrl+Alt") << int(Qt::ControlModifier | Qt::AltModifier) << button << false;
}

void TstForm1::ctrlJSeenBeforeTheFocusedControl() {
    QFETCH(int, modifiers);
    QFETCH(int, focus);
    QFETCH(bool, opens);
    ShownForm f;
    f.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
    QWidget* focused = f.get(static_cast<Control>(focus));
    focused->setFocus();
    int keysAtControl = 0;
    struct Counter : QObject {
        int& count;
        explicit Counter(int& c) : count(c) {}
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_J) {
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
    QVERIFY(f.pty.readAvailable().isEmpty());
}

void TstForm1::sharedCaptionsHaveAccessibleNames() {
    ShownForm f;
    QCOMPARE(f.get(Control::Command1)->accessibleName(), QStringLiteral("VOL +"));
    QCOMPARE(f.get(Control::Command17)->accessibleName(), QStringLiteral("POWER ON"));
    QCOMPARE(f.get(Control::Command59)->accessibleName(), QStringLiteral("LENS SHIFT up"));
    // Boxes expose their current caption, not a fixed name.
    QVERIFY(f.get(Control::Label22)->accessibleName().isEmpty());
}

void TstForm1::failedPortChoiceKeepsItsOptionAndCanBeRetried() {
    ShownForm f;
    qputenv("VK9RSC_COM2", "/nonexistent/vk9rsc-com2");
    WarningCatcher catcher;
    f.get<QPushButton>(Control::Command33)->click();
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

QTEST_MAIN(TstForm1)
#include "tst_form1.moc"
