#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace vk9::test {

// vk9sim behind a pseudo-terminal, linked at `link`, with its frame log in a file.
struct Simulator {
    QTemporaryDir dir;
    QProcess process;
    QString link = dir.filePath("com1");

    explicit Simulator(const QStringList& arguments) {
        process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        process.start(QStringLiteral(VK9SIM_PATH), QStringList{"--log", dir.filePath("sim.log")} +
                                                       arguments + QStringList{link});
        QVERIFY(process.waitForStarted());
        QTRY_VERIFY(QFileInfo::exists(link));
    }
    ~Simulator() {
        process.terminate();
        process.waitForFinished(3000);
    }
    QByteArray log() const {
        QFile f(dir.filePath("sim.log"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

} // namespace vk9::test
