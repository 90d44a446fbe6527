#pragma once

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace vk9::test {

inline int freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// ser2net on 127.0.0.1 with a Telnet (RFC 2217) line before one device and, if a second
// is given, a raw TCP line before it.
struct Ser2net {
    QTemporaryDir dir;
    int telnetPort = freePort();
    int tcpPort = freePort();
    QProcess process;

    explicit Ser2net(const QString& telnetDevice, const QString& tcpDevice = {}) {
        QFile config(dir.filePath("ser2net.yaml"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        // Both lines start at 9600: the panel's 19200 has to reach the Telnet one.
        const QString line = QStringLiteral("connection: &%1\n  accepter: %2,127.0.0.1,%3\n"
                                            "  connector: serialdev,%4,9600n81,local\n"
                                            "  options:\n    kickolduser: true\n");
        config.write(
            ("%YAML 1.1\n---\n" +
             line.arg("telnet", "telnet(rfc2217),tcp").arg(telnetPort).arg(telnetDevice) +
             (tcpDevice.isEmpty() ? QString() : line.arg("tcp", "tcp").arg(tcpPort).arg(tcpDevice)))
                .toUtf8());
        config.close();
        start();
    }
    ~Ser2net() { stop(); }
    void start() {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start("ser2net", {"-n", "-d", "-c", dir.filePath("ser2net.yaml")});
        QVERIFY(process.waitForStarted());
        QTRY_VERIFY(accepts(telnetPort));
    }
    void stop() {
        process.terminate();
        process.waitForFinished(3000);
    }
    static bool accepts(int port) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, quint16(port));
        return probe.waitForConnected(100);
    }
    QString address(bool telnet) const {
        return QStringLiteral("%1://127.0.0.1:%2")
            .arg(telnet ? "rfc2217" : "tcp")
            .arg(telnet ? telnetPort : tcpPort);
    }
};

} // namespace vk9::test
