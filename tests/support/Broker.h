#pragma once

#include "Fixture.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <map>

namespace vk9::test {

// Mosquitto on a free loopback port, with a configuration file of its own: anonymous, or
// with one user and password; in TLS with a certificate of its own (`cert.pem`, made for
// 127.0.0.1). It keeps nothing on disk.
struct Broker {
    QTemporaryDir dir;
    QProcess process;
    int port = 0;

    explicit Broker(const QString& user = {}, const QString& password = {}, bool tls = false) {
        // Started as root, mosquitto gives up root for its own user, which must read here.
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadOther | QFile::ExeOther);
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        port = probe.serverPort();
        probe.close();
        QString config = QStringLiteral("listener %1 127.0.0.1\npersistence false\n").arg(port);
        if (user.isEmpty()) {
            config += "allow_anonymous true\n";
        } else {
            QProcess::execute("mosquitto_passwd",
                              {"-c", "-b", dir.filePath("passwords"), user, password});
            QFile::setPermissions(dir.filePath("passwords"), QFile::ReadOwner | QFile::ReadOther);
            config += "allow_anonymous false\npassword_file " + dir.filePath("passwords") + "\n";
        }
        if (tls) {
            QProcess::execute(
                "openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                            "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                            dir.filePath("key.pem"), "-out", dir.filePath("cert.pem")});
            QFile::setPermissions(dir.filePath("key.pem"), QFile::ReadOwner | QFile::ReadOther);
            config += "certfile " + dir.filePath("cert.pem") + "\nkeyfile " +
                      dir.filePath("key.pem") + "\n";
        }
        QFile file(dir.filePath("mosquitto.conf"));
        file.open(QIODevice::WriteOnly);
        file.write(config.toUtf8());
        file.close();
        if (!start()) {
            QFile log(dir.filePath("broker.log"));
            log.open(QIODevice::ReadOnly);
            failTest("mosquitto did not listen: " + QString(log.readAll()));
        }
    }
    ~Broker() { stop(); }
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    bool start() {
        process.setStandardOutputFile(dir.filePath("broker.log"), QIODevice::Append);
        process.setStandardErrorFile(dir.filePath("broker.log"), QIODevice::Append);
        process.start("mosquitto", {"-c", dir.filePath("mosquitto.conf")});
        QDeadlineTimer deadline(3000);
        while (!deadline.hasExpired() && process.waitForStarted(100)) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, quint16(port));
            if (probe.waitForConnected(100)) {
                return true;
            }
            QTest::qWait(20);
        }
        return false;
    }
    void stop() {
        process.terminate();
        process.waitForFinished(3000);
    }
    // The retained messages under `filter`, as a real client reads them: topic -> payload.
    std::map<QString, QByteArray> retained(const QString& filter) const {
        QProcess sub;
        sub.start("mosquitto_sub",
                  {"-p", QString::number(port), "-v", "--retained-only", "-W", "1", "-t", filter});
        sub.waitForFinished(5000);
        std::map<QString, QByteArray> messages;
        for (const QByteArray& line : sub.readAllStandardOutput().split('\n')) {
            const auto space = line.indexOf(' ');
            if (space > 0) {
                messages[QString::fromUtf8(line.left(space))] = line.mid(space + 1);
            }
        }
        return messages;
    }
    QByteArray log() const {
        QFile file(dir.filePath("broker.log"));
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }
    void publish(const QString& topic, const QByteArray& payload, bool retain = false) const {
        QProcess::execute("mosquitto_pub", QStringList{"-p", QString::number(port), "-t", topic,
                                                       "-m", QString(payload)} +
                                               (retain ? QStringList{"-r"} : QStringList{}));
    }
};

} // namespace vk9::test
