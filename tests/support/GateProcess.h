#pragma once

#include "Fixture.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace vk9::test {

// vk9gate as a service runs it, with its arguments and a listening port of its own (probed
// free); started, it is listening once the line has opened.
struct GateProcess {
    QProcess process;
    int port = 0;
    int pjlinkPort = 0; // "%PJ" in a configuration
    QByteArray said;    // its standard error

    explicit GateProcess(QStringList arguments, bool waitForListening = true,
                         const QStringList& environment = {}) {
        QTcpServer probe;
        QTcpServer second;
        probe.listen(QHostAddress::LocalHost);
        second.listen(QHostAddress::LocalHost);
        port = probe.serverPort();
        pjlinkPort = second.serverPort();
        probe.close();
        second.close();
        arguments.replaceInStrings("%PORT", QString::number(port));
        if (const auto config = arguments.indexOf("--config"); config >= 0) { // "%PORT" in it
            QFile file(arguments.value(config + 1));
            file.open(QIODevice::ReadWrite);
            const QByteArray text = file.readAll()
                                        .replace("%PORT", QByteArray::number(port))
                                        .replace("%PJ", QByteArray::number(pjlinkPort));
            file.resize(0);
            file.write(text);
        } else {
            arguments << "--listen" << address().mid(6);
        }
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.setEnvironment(QProcess::systemEnvironment() + environment);
        QObject::connect(&process, &QProcess::readyReadStandardError,
                         [this] { said += process.readAllStandardError(); });
        process.start(QStringLiteral(VK9GATE_PATH), arguments);
        if (waitForListening && !listening(5000)) {
            failTest("vk9gate did not listen: " + QString(said));
        }
    }
    ~GateProcess() {
        process.terminate();
        process.waitForFinished(3000);
    }
    GateProcess(const GateProcess&) = delete;
    GateProcess& operator=(const GateProcess&) = delete;

    QString address() const { return QStringLiteral("tcp://127.0.0.1:%1").arg(port); }
    // The same port, for a client that is told each frame's fate.
    QString gateAddress() const { return QStringLiteral("gate://127.0.0.1:%1").arg(port); }
    bool listening(int withinMs) {
        QDeadlineTimer deadline(withinMs);
        while (!deadline.hasExpired() && process.state() != QProcess::NotRunning) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, quint16(port));
            if (probe.waitForConnected(100)) {
                probe.disconnectFromHost();
                QTest::qWait(100); // gone before the test's own clients come
                return true;
            }
            QTest::qWait(50);
        }
        return false;
    }
    // Ended by SIGTERM: its exit status.
    int end() {
        process.terminate();
        if (!process.waitForFinished(5000) || process.exitStatus() != QProcess::NormalExit) {
            failTest("vk9gate did not end on SIGTERM");
        }
        said += process.readAllStandardError();
        return process.exitCode();
    }
};

} // namespace vk9::test
