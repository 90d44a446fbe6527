#include "serial/LineSettings.h"

#include <QtTest>

using namespace vk9;

class TstLineSettings : public QObject {
    Q_OBJECT
private slots:
    void parses_data();
    void parses();
    void devicesForPortNumbers_data();
    void devicesForPortNumbers();
};

void TstLineSettings::parses_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");
    const int none = int(Parity::None);
    QTest::newRow("19200") << "19200,N,8,1" << true << 19200 << none << 8 << int(StopBits::One);
    QTest::newRow("9600") << "9600,N,8,1" << true << 9600 << none << 8 << int(StopBits::One);
    QTest::newRow("even, 7, 2") << "4800,E,7,2" << true << 4800 << int(Parity::Even) << 7
                                << int(StopBits::Two);
    QTest::newRow("one and a half")
        << "1200,o,5,1.5" << true << 1200 << int(Parity::Odd) << 5 << int(StopBits::OneAndHalf);
    QTest::newRow("empty") << "" << false << 0 << 0 << 0 << 0;
    QTest::newRow("three fields") << "19200,N,8" << false << 0 << 0 << 0 << 0;
    QTest::newRow("five fields") << "19200,N,8,1,1" << false << 0 << 0 << 0 << 0;
    QTest::newRow("speed not a number") << "fast,N,8,1" << false << 0 << 0 << 0 << 0;
    QTest::newRow("zero speed") << "0,N,8,1" << false << 0 << 0 << 0 << 0;
    QTest::newRow("unknown parity") << "9600,X,8,1" << false << 0 << 0 << 0 << 0;
    QTest::newRow("nine data bits") << "9600,N,9,1" << false << 0 << 0 << 0 << 0;
    QTest::newRow("three stop bits") << "9600,N,8,3" << false << 0 << 0 << 0 << 0;
    QTest::newRow("trailing junk") << "9600x,N,8,1" << false << 0 << 0 << 0 << 0;
}

void TstLineSettings::parses() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    const auto parsed = parseLineSettings(text.toStdString());
    QCOMPARE(parsed.has_value(), valid);
    if (!valid) {
        return;
    }
    QTEST(parsed->baud, "baud");
    QTEST(int(parsed->parity), "parity");
    QTEST(parsed->dataBits, "dataBits");
    QTEST(int(parsed->stopBits), "stopBits");
}

void TstLineSettings::devicesForPortNumbers_data() {
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("configured"); // "-" for unset
    QTest::addColumn<bool>("windows");
    QTest::addColumn<QString>("device");
    QTest::newRow("port 1 default") << 1 << "-" << false << "/dev/ttyS0";
    QTest::newRow("port 2 default") << 2 << "-" << false << "/dev/ttyS1";
    QTest::newRow("configured") << 1 << "/dev/ttyUSB0" << false << "/dev/ttyUSB0";
    QTest::newRow("configured but empty") << 2 << "" << false << "/dev/ttyS1";
    QTest::newRow("Windows ignores the variable") << 2 << "/dev/x" << true << "COM2";
}

void TstLineSettings::devicesForPortNumbers() {
    QFETCH(int, number);
    QFETCH(QString, configured);
    QFETCH(bool, windows);
    QFETCH(QString, device);
    const std::string value = configured.toStdString();
    const char* env = configured == "-" ? nullptr : value.c_str();
    QCOMPARE(QString::fromStdString(deviceForPort(number, env, windows)), device);
}

QTEST_APPLESS_MAIN(TstLineSettings)
#include "tst_linesettings.moc"
