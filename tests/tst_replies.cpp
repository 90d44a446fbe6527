#include "PanelHarness.h"
#include "traffic/ReplyDecoder.h"
#include "traffic/TrafficText.h"

using namespace vk9;
using namespace vk9::test;

namespace {

QString lampText(int lamps) {
    if (lamps == 0) {
        return QStringLiteral(" All OFF : ");
    }
    if (lamps == 15) {
        return QStringLiteral(" All ON  : ");
    }
    QStringList numbers;
    for (int bit = 0; bit < 4; ++bit) {
        if (lamps & (1 << bit)) {
            numbers << QString::number(bit + 1);
        }
    }
    return " No" + numbers.join(',') + " ON  : ";
}

// What the STATUS box shows for a reply to a query sent unaddressed; "" for nothing.
QString decoded(const QByteArray& query, const QByteArray& reply) {
    const auto message =
        decodeReply(trafficText(reply.toStdString()), (query + '\r').toStdString(), "");
    return message ? QString::fromStdString(*message) : QString();
}

} // namespace

class TstReplies : public QObject {
    Q_OBJECT
private slots:
    void rendersEachByte_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("rendered");
        QTest::newRow("empty text is one space") << QByteArray() << QByteArray(" ");
        QTest::newRow("command frame") << QByteArray("C00\r") << QByteArray(" C 0 0 CR ");
        QTest::newRow("addressed frame")
            << QByteArray("A001C00\r") << QByteArray(" A 0 0 1 C 0 0 CR ");
        QTest::newRow("ACK alone") << QByteArray("\x06") << QByteArray(" &");
        QTest::newRow("ACK then CR") << QByteArray("\x06\r") << QByteArray(" &CR ");
        QTest::newRow("line feed") << QByteArray("\n") << QByteArray(" LF ");
        QTest::newRow("lower case is printable") << QByteArray("ab\r") << QByteArray(" a b CR ");
        QTest::newRow("space renders as two") << QByteArray(" ") << QByteArray("   ");
        QTest::newRow("z is the last printable") << QByteArray("z") << QByteArray(" z ");
        QTest::newRow("open brace") << QByteArray("{") << QByteArray(" ? ");
        QTest::newRow("bar and tilde") << QByteArray("|~") << QByteArray(" ? ? ");
        QTest::newRow("code 127") << QByteArray("\x7f") << QByteArray(" ? ");
        QTest::newRow("NUL and other controls")
            << QByteArray("\0\x01\x1f", 3) << QByteArray(" ? ? ? ");
        QTest::newRow("code 128") << QByteArray("\x80") << QByteArray(" ? ");
        QTest::newRow("code 255") << QByteArray("\xff") << QByteArray(" ? ");
        QTest::newRow("UTF-8 bytes one piece each")
            << QByteArray("\xc3\xa9") << QByteArray(" ? ? ");
        QTest::newRow("markup stays text") << QByteArray("<b>") << QByteArray(" < b > ");
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
            {"CR0", "00\r", " Power ON"},
            {"CR0", "80\r", " Stand by"},
            {"CR0", "40\r", " Count down"},
            {"CR0", "20\r", " Cooling down"},
            {"CR0", "10\r", " Power abnormality"},
            {"CR0", "08\r", " Temperature abnormality"},
            {"CR0", "18\r", " Temperature abnormality"},
            {"CR0", "28\r", " Temperature abnormality"},
            {"CR0", "48\r", " Temperature abnormality"},
            {"CR0", "88\r", " Temperature abnormality"},
            {"CR0", "00", " Power ON"}, // as soon as both characters are in
            {"CR0", "90\r", ""},
            {"CR0", "C0\r", ""},
            {"CR0", "38\r", ""},
            {"CR0", "0", ""},
            {"CR0",
             "\x06"
             "00\r",
             ""}, // a leading ACK moves the characters
            {"CR0", "\r00\r", ""},
            {"CR1", "1\r", " Input 1"},
            {"CR1", "2\r", " Input 2"},
            {"CR1", "3", " Input 3"},
            {"CR1", "4\r", " Input 4"},
            {"CR1", "5\r", ""},
            {"CR1", "", ""},
            {"CR4", "11\r", " Normally"},
            {"CR4", "10\r", " Top/Bottom reversal"},
            {"CR4", "01\r", " Left/Right reversal"},
            {"CR4", "00\r", " Top/Bottom , Left/Right reversal"},
            {"CR4", "12\r", ""},
            {"CR3", "12345\r", " 1 2 3 4 5 CR  Hour Use"},
            {"CR3", "", "  Hour Use"},
            {"CR3", "12345678901234567\r", " 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 CR  Hour Use"},
            {"CR3", "1234567890123456789012", " 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 Hour Use"},
            {"CR6", "12345678901\r", "  S1= 1 2 3 4 5 C  ,   S2=  8 9 0 1 C"},
            {"CR6", "1234\r", "  S1= 1 2 3 4 C C  ,   S2=  C"},
            {"CR6", "", "  S1=  C  ,   S2=  C"},
            {"CR7", "1A\r", " No2,4 ON  : 2 Lamp mode(1,4)"},
            {"CR7", "00\r", " All OFF : 4 Lamp mode"},
            {"CR7", "15\r", " No1,3 ON  : 2 Lamp mode(1,4)"},
            {"CR7", "2F\r", " All ON  : 2 Lamp mode(2,3)"},
            {"CR7", "1a\r", ""},
            {"CR7", "30\r", ""},
            {"CR7", "0G\r", ""},
            {"C00", "00\r", ""}, // not a query: shown, never decoded
            {"C70", "00\r", ""},
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

    void everyLampModeCombination() {
        const QStringList modes{"4 Lamp mode", "2 Lamp mode(1,4)", "2 Lamp mode(2,3)"};
        for (int mode = 0; mode < 3; ++mode) {
            for (int lamps = 0; lamps < 16; ++lamps) {
                const QByteArray reply =
                    QByteArray::number(mode) + QByteArray::number(lamps, 16).toUpper() + '\r';
                QCOMPARE(decoded("CR7", reply), lampText(lamps) + modes[mode]);
            }
        }
    }

    void decodingFollowsThePanelState() {
        PanelHarness h;
        h.started();
        // The address changes between a query and its reply: shown, not decoded.
        h.panel.select(Control::Option5);
        h.panel.click(Control::Command44);
        h.panel.select(Control::Option6);
        h.reply("00\r");
        QCOMPARE(h.box(kRxdBox), std::string(" 0 0 CR "));
        QCOMPARE(h.box(kStatusBox), std::string());
        h.clock.advance(1000ms);

        // A newer query before the reply: the newer query's table decodes it.
        h.panel.select(Control::Option3);
        h.panel.click(Control::Command44);
        h.panel.click(Control::Command45);
        h.reply("3");
        QCOMPARE(h.box(kStatusBox), std::string(" Input 3"));
        h.clock.advance(1000ms);

        // Earlier text still in the buffer is what the table compares.
        h.panel.click(Control::Command44);
        h.reply("80\r");
        h.clock.advance(600ms); // window closed: buffer emptied
        h.reply("40\r");        // unasked, after the window
        QCOMPARE(h.box(kStatusBox), std::string(" Count down"));
        h.reply("00\r");
        QCOMPARE(h.box(kRxdBox), std::string(" 4 0 CR 0 0 CR "));
        QCOMPARE(h.box(kStatusBox), std::string(" Count down"));
    }
};

QTEST_APPLESS_MAIN(TstReplies)
#include "tst_replies.moc"
