#include "PanelHarness.h"
#include "traffic/TrafficText.h"

using namespace vk9;

class TstTrafficText : public QObject {
    Q_OBJECT
private slots:
    void rendersEachByte_data();
    void rendersEachByte();
    void everyByteHasOnePiece();
    void textOperations_data();
    void textOperations();
};

void TstTrafficText::rendersEachByte_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("rendered");
    QTest::newRow("empty text is one space") << QByteArray() << QByteArray(" ");
    QTest::newRow("command frame") << QByteArray("C00\r") << QByteArray(" C 0 0 CR ");
    QTest::newRow("addressed frame") << QByteArray("A001C00\r") << QByteArray(" A 0 0 1 C 0 0 CR ");
    QTest::newRow("ACK alone") << QByteArray("\x06") << QByteArray(" &");
    QTest::newRow("ACK then CR") << QByteArray("\x06\r") << QByteArray(" &CR ");
    QTest::newRow("line feed") << QByteArray("\n") << QByteArray(" LF ");
    QTest::newRow("lower case is printable") << QByteArray("ab\r") << QByteArray(" a b CR ");
    QTest::newRow("space renders as two") << QByteArray(" ") << QByteArray("   ");
    QTest::newRow("z is the last printable") << QByteArray("z") << QByteArray(" z ");
    QTest::newRow("open brace") << QByteArray("{") << QByteArray(" ? ");
    QTest::newRow("bar and tilde") << QByteArray("|~") << QByteArray(" ? ? ");
    QTest::newRow("code 127") << QByteArray("\x7f") << QByteArray(" ? ");
    QTest::newRow("NUL and other controls") << QByteArray("\0\x01\x1f", 3) << QByteArray(" ? ? ? ");
    QTest::newRow("code 128") << QByteArray("\x80") << QByteArray(" ? ");
    QTest::newRow("code 255") << QByteArray("\xff") << QByteArray(" ? ");
    QTest::newRow("UTF-8 bytes one piece each") << QByteArray("\xc3\xa9") << QByteArray(" ? ? ");
    QTest::newRow("markup stays text") << QByteArray("<b>") << QByteArray(" < b > ");
}

void TstTrafficText::rendersEachByte() {
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, rendered);
    QCOMPARE(trafficText(bytes.toStdString()), rendered.toStdString());
}

void TstTrafficText::everyByteHasOnePiece() {
    // Printable bytes land at position 2k, which is what decoding relies on.
    for (int code = 0; code < 256; ++code) {
        const std::string text = trafficText(std::string("1") + static_cast<char>(code) + "2");
        const std::string_view tail = std::string_view(text).substr(text.size() - 2);
        QCOMPARE(std::string(tail), std::string("2 "));
        QVERIFY(text.size() == 1 + 2 + 2 + (code == 6 ? 1 : code == 10 || code == 13 ? 3 : 2));
    }
}

void TstTrafficText::textOperations_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("position"); // 0: first n characters
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("expected");
    QTest::newRow("left, shorter text") << "abc" << 0 << 38 << "abc";
    QTest::newRow("left") << "abcdef" << 0 << 4 << "abcd";
    QTest::newRow("mid") << " 1 2 3 4 5 6 7 8 9 0 1 CR " << 15 << 8 << " 8 9 0 1";
    QTest::newRow("mid past the end") << " 1 2" << 15 << 8 << "";
    QTest::newRow("mid runs off the end") << "abcdef" << 5 << 8 << "ef";
}

void TstTrafficText::textOperations() {
    QFETCH(QString, text);
    QFETCH(int, position);
    QFETCH(int, count);
    QFETCH(QString, expected);
    const std::string s = text.toStdString();
    const auto n = static_cast<std::size_t>(count);
    const std::string_view got =
        position == 0 ? leftOf(s, n) : midOf(s, static_cast<std::size_t>(position), n);
    QCOMPARE(QString::fromStdString(std::string(got)), expected);
}

QTEST_APPLESS_MAIN(TstTrafficText)
#include "tst_traffictext.moc"
