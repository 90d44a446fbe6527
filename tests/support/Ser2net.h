#pragma once

#include "Fixture.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace vk9::test {

// ser2net on a loopback address with a Telnet (RFC 2217) line before one device and, if a
// second is given, a raw TCP line before it. Each line starts at 9600 bit/s and lets two
// clients share it. Ports are probed free; a server that cannot take them is started again
// on others.
struct Ser2net {
    QTemporaryDir dir;
    QString host;
    QString devices[2];
    int telnetPort = 0;
    int tcpPort = 0;
    QProcess process;

    explicit Ser2net(const QString& telnetDevice, const QString& tcpDevice = {},
                     const QString& at = QStringLiteral("127.0.0.1"))
        : host(at), devices{telnetDevice, tcpDevice} {
        for (int attempt = 0; attempt < 5 && telnetPort == 0; ++attempt) {
            telnetPort = probe();
            tcpPort = probe();
            if (!start()) {
                telnetPort = 0;
            }
        }
        if (telnetPort == 0) {
            failTest("ser2net did not listen on " + host);
        }
    }
    ~Ser2net() { stop(); }
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    int probe() const {
        QTcpServer server;
        server.listen(QHostAddress(host));
        return server.serverPort();
    }
    // Started again on the same ports: whether it listens within 3 s.
    bool start() {
        QFile config(dir.filePath("ser2net.yaml"));
        if (!config.open(QIODevice::WriteOnly)) {
            return false;
        }
        const QString line = QStringLiteral("connection: &%1\n  accepter: %2,%3,%4\n"
                                            "  connector: serialdev,%5,9600n81,local\n"
                                            "  options:\n    max-connections: 2\n");
        QString text =
            "%YAML 1.1\n---\n" +
            line.arg("telnet", "telnet(rfc2217),tcp", host).arg(telnetPort).arg(devices[0]);
        if (!devices[1].isEmpty()) {
            text += line.arg("tcp", "tcp", host).arg(tcpPort).arg(devices[1]);
        }
        config.write(text.toUtf8());
        config.close();
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start("ser2net", {"-n", "-d", "-c", dir.filePath("ser2net.yaml")});
        if (!process.waitForStarted()) {
            return false;
        }
        QDeadlineTimer deadline(3000);
        while (!deadline.hasExpired() && process.state() == QProcess::Running) {
            if (accepts(telnetPort)) {
                return true;
            }
            QTest::qWait(20);
        }
        stop();
        return false;
    }
    void stop() {
        process.terminate();
        process.waitForFinished(3000);
    }
    bool accepts(int port) const {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress(host), quint16(port));
        return probe.waitForConnected(100);
    }
    QString address(bool telnet) const {
        return QStringLiteral("%1://%2:%3")
            .arg(telnet ? "rfc2217" : "tcp", host)
            .arg(telnet ? telnetPort : tcpPort);
    }
};

// sredird, another RFC 2217 server, behind socat on 127.0.0.1: a sredird for each client.
struct Sredird {
    QTemporaryDir dir;
    QProcess process;
    int port = 0;

    explicit Sredird(const QString& device) {
        process.setProcessChannelMode(QProcess::SeparateChannels);
        for (int attempt = 0; attempt < 5 && port == 0; ++attempt) {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost);
            port = probe.serverPort();
            probe.close();
            // -d -d: socat says "listening on" once it does.
            process.start("socat",
                          {"-d", "-d",
                           QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr,fork").arg(port),
                           "EXEC:sredird 5 " + device + " " + dir.filePath("lock")});
            process.setReadChannel(QProcess::StandardError);
            QByteArray said;
            QDeadlineTimer deadline(3000);
            while (!said.contains("listening on") && !deadline.hasExpired() &&
                   process.state() != QProcess::NotRunning) {
                process.waitForReadyRead(100);
                said += process.readAllStandardError();
            }
            if (!said.contains("listening on")) {
                process.kill();
                process.waitForFinished(1000);
                port = 0;
            }
        }
        if (port == 0) {
            failTest("socat and sredird did not listen");
        }
    }
    ~Sredird() { // the sredird socat started for each client goes with it
        QProcess::execute("pkill", {"-TERM", "-P", QString::number(process.processId())});
        process.terminate();
        process.waitForFinished(3000);
    }
    Sredird(const Sredird&) = delete;
    Sredird& operator=(const Sredird&) = delete;
    QString address() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(port); }
};

} // namespace vk9::test
