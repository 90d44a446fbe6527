#pragma once

#include "Fixture.h"

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
        QDeadlineTimer deadline(3000);
        while (!QFileInfo::exists(link) && !deadline.hasExpired() &&
               process.state() != QProcess::NotRunning) {
            QTest::qWait(10);
        }
        if (!QFileInfo::exists(link)) {
            failTest("vk9sim did not start with " + arguments.join(' '));
        }
    }
    ~Simulator() {
        process.terminate();
        process.waitForFinished(3000);
    }
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
    QByteArray log() const {
        QFile f(dir.filePath("sim.log"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

// A program run to its end as a script runs it. A program that hangs or crashes fails the
// test: it has no exit status to compare.
struct Ran {
    int status = -1;
    QString out;
    QString err;
};

inline Ran runProgram(const QString& program, const QStringList& arguments,
                      const QString& outputFile = {}) {
    QProcess p;
    if (!outputFile.isEmpty()) {
        p.setStandardOutputFile(outputFile);
    }
    p.start(program, arguments);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit) {
        p.kill();
        p.waitForFinished(1000);
        failTest(program + " " + arguments.join(' ') + " hung or crashed");
    }
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

} // namespace vk9::test
