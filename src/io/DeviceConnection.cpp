#include "io/DeviceConnection.h"

#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#include <cerrno>

#if defined(Q_OS_WIN)
#include <windows.h>
#else
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#endif

namespace vk9::qt {

namespace {

// QSerialPort's values, in the order of the enums: Parity None, Even, Odd, Mark, Space;
// StopBits One, OneAndHalf, Two.
constexpr QSerialPort::Parity kParities[] = {QSerialPort::NoParity, QSerialPort::EvenParity,
                                             QSerialPort::OddParity, QSerialPort::MarkParity,
                                             QSerialPort::SpaceParity};
constexpr QSerialPort::StopBits kStopBits[] = {QSerialPort::OneStop, QSerialPort::OneAndHalfStop,
                                               QSerialPort::TwoStop};

// The real path of a device, symbolic links resolved; the name itself when it names
// nothing (the open then says why).
QString realPath(const std::string& device) {
    const QString named = QString::fromStdString(device);
    const QString real = QFileInfo(named).canonicalFilePath();
    return real.isEmpty() ? named : real;
}

} // namespace

std::string lockHolder(const QString& realPath) {
#if defined(Q_OS_WIN)
    Q_UNUSED(realPath);
    return {};
#else
    // The lock of a serial device: LCK.. and the name below /dev/, with '/' as '_'. It holds
    // the process id, alone (the old UUCP way, often padded with spaces) or followed by the
    // program's name (QSerialPort's way).
    QString name = realPath.startsWith(QStringLiteral("/dev/")) ? realPath.mid(5) : realPath;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char* dir : {"/run/lock", "/var/lock"}) {
        QFile lock(QString::fromLatin1(dir) + QStringLiteral("/LCK..") + name);
        if (!lock.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QList<QByteArray> lines = lock.read(512).split('\n');
        bool number = false;
        const qint64 pid = lines.value(0).trimmed().toLongLong(&number);
        if (!number || pid <= 0) {
            return "whoever wrote " + lock.fileName().toStdString() +
                   ", which names no process: remove it if no program uses the line";
        }
        // Asked of the kernel, not of /proc: a service may see no other user's processes
        // there (ProtectProc=invisible), though they hold the line all the same.
        if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH) {
            return {}; // stale: its process is gone, and the open takes it over
        }
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        const QByteArray program = !lines.value(1).trimmed().isEmpty() ? lines[1].trimmed()
                                   : comm.open(QIODevice::ReadOnly)    ? comm.readAll().trimmed()
                                                                       : QByteArray();
        return "process " + std::to_string(pid) +
               (program.isEmpty() ? std::string() : " (" + program.toStdString() + ")");
    }
    return {};
#endif
}

DeviceConnection::DeviceConnection(std::string device, const ConnectionEvents& events)
    : Connection(events), m_device(std::move(device)) {
    connect(&m_port, &QSerialPort::readyRead, this, [this] {
        const QByteArray data = m_port.readAll();
        take({data.constData(), static_cast<std::size_t>(data.size())});
    });
    connect(&m_port, &QSerialPort::errorOccurred, this, &DeviceConnection::handleError);
}

SerialResult DeviceConnection::failure() const {
    return SerialResult::failure(m_device + ": " + m_port.errorString().toStdString());
}

SerialResult DeviceConnection::open(const SerialSettings& settings) {
    const QString real = realPath(m_device);
    // Asked before QSerialPort is: it takes a lock in another program's format for stale
    // and removes it.
    if (const std::string holder = lockHolder(real); !holder.empty()) {
        return SerialResult::inUse(m_device + " is in use by " + holder);
    }
    m_port.setPortName(real);
    (void)applySettings(settings); // kept by a closed port for its open
    if (m_port.open(QIODevice::ReadWrite)) {
        return SerialResult::success();
    }
    return failure();
}

void DeviceConnection::shut() {
    if (m_port.isOpen()) { // closing a closed QSerialPort reports NotOpenError
        m_port.close();
    }
}

SerialResult DeviceConnection::write(std::string_view bytes) {
    if (!m_port.isOpen()) {
        return SerialResult::failure("no serial port is open");
    }
    const auto size = static_cast<qint64>(bytes.size());
    if (m_port.write(bytes.data(), size) != size) {
        return failure();
    }
    // Hand the frame to the driver now rather than on the next pass of the event loop.
    m_port.flush();
    return SerialResult::success();
}

void DeviceConnection::discardInput() {
    if (m_port.isOpen()) {
        m_port.clear(QSerialPort::Input); // Qt's buffer and the driver's
    }
    Connection::discardInput();
}

SerialResult DeviceConnection::applySettings(const SerialSettings& settings) {
    m_settings = settings;
    const bool ok = m_port.setBaudRate(settings.baud) &&
                    m_port.setParity(kParities[static_cast<int>(settings.parity)]) &&
                    m_port.setDataBits(static_cast<QSerialPort::DataBits>(settings.dataBits)) &&
                    m_port.setStopBits(kStopBits[static_cast<int>(settings.stopBits)]) &&
                    m_port.setFlowControl(QSerialPort::NoFlowControl);
    return ok ? SerialResult::success() : failure();
}

std::size_t DeviceConnection::pendingOutput() const {
    if (!m_port.isOpen()) {
        return 0;
    }
    auto pending = static_cast<std::size_t>(m_port.bytesToWrite());
    // bytesToWrite() counts only Qt's buffer; the driver holds the rest.
#if defined(Q_OS_WIN)
    COMSTAT status{};
    DWORD errors = 0;
    if (ClearCommError(m_port.handle(), &errors, &status)) {
        pending += status.cbOutQue;
    }
#else
    int queued = 0;
    if (ioctl(m_port.handle(), TIOCOUTQ, &queued) == 0 && queued > 0) {
        pending += static_cast<std::size_t>(queued);
    }
#endif
    return pending;
}

std::string DeviceConnection::lossReason() const {
#if !defined(Q_OS_WIN)
    // A hang-up (a pulled adapter, the far end of a pseudo-terminal closed) reaches Qt as a
    // read of nothing, which it reports with whatever errno was left over: say what it is.
    pollfd line{static_cast<int>(m_port.handle()), POLLIN, 0};
    if (::poll(&line, 1, 0) == 1 && (line.revents & POLLHUP) != 0) {
        return "the line hung up";
    }
#endif
    return m_port.errorString().toStdString();
}

void DeviceConnection::handleError(QSerialPort::SerialPortError error) {
    // Harmless: the call succeeded, a wait timed out, or a pseudo-terminal has no modem lines.
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError ||
        error == QSerialPort::UnsupportedOperationError) {
        return;
    }
    // A vanished device keeps raising errors until the port is closed; the loss closes it
    // once this signal has returned.
    if (m_port.isOpen() && !goingAway()) {
        tellLost(lossReason());
    }
}

} // namespace vk9::qt
