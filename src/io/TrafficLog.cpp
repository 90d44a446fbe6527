#include "io/TrafficLog.h"

#include <QDateTime>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <iostream>
#include <utility>

namespace vk9::qt {

TrafficLog::TrafficLog(const QString& path, std::string program, std::string who, QObject* parent)
    : QObject(parent), m_path(path), m_program(std::move(program)), m_who(std::move(who)) {
    connect(&m_flush, &QTimer::timeout, this, &TrafficLog::flush);
    open();
}

void TrafficLog::reopen() {
    flush();
    m_file.close();
    m_failed = false;
    m_error.clear();
    open();
}

void TrafficLog::open() {
    // Opened by the system, not by QFile: QFile seeks to the end of what it appends to, and
    // complains in its own words about a device (/dev/full, a terminal) that cannot seek.
    const int fd = ::open(QFile::encodeName(m_path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || !m_file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        m_error = std::strerror(errno);
        if (fd >= 0) {
            ::close(fd);
        }
        fail();
        return;
    }
    m_flush.start(1000);
}

TrafficLog::~TrafficLog() {
    flush();
}

void TrafficLog::record(bool sent, std::string_view shown, std::string_view status) {
    if (m_failed) {
        return;
    }
    // "2026-12-07 04:46:05.123 TX | C 0 0 CR |": the boxes' text between bars, so that its
    // spaces show, then the STATUS text.
    const QByteArray line =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toUtf8() +
        (sent ? " TX |" : " RX |") +
        QByteArray(shown.data(), static_cast<qsizetype>(shown.size())) + '|' +
        QByteArray(status.data(), static_cast<qsizetype>(status.size())) + '\n';
    if (m_file.write(line) != line.size()) {
        fail();
    }
}

void TrafficLog::flush() {
    if (!m_failed && m_file.isOpen() && !m_file.flush()) {
        fail();
    }
}

void TrafficLog::fail() {
    m_failed = true;
    m_flush.stop();
    if (m_error.empty()) {
        m_error = m_file.errorString().toStdString();
    }
    std::cerr << m_program << ": the traffic log " << m_path.toStdString() << " cannot be written ("
              << m_error << "); " << m_who << " goes on without it" << std::endl;
    m_file.close();
}

} // namespace vk9::qt
