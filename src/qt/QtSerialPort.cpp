#include "QtSerialPort.h"

#include "line/LineSettings.h"

#include <QSerialPortInfo>
#include <QtGlobal>

#if defined(Q_OS_WIN)
#include <windows.h>
#else
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#endif

#include <cstdlib>

namespace vk9::qt {

namespace {

constexpr bool kWindows =
#if defined(Q_OS_WIN)
    true;
#else
    false;
#endif

QSerialPort::Parity toQt(Parity p) {
    switch (p) {
    case Parity::None:
        return QSerialPort::NoParity;
    case Parity::Even:
        return QSerialPort::EvenParity;
    case Parity::Odd:
        return QSerialPort::OddParity;
    case Parity::Mark:
        return QSerialPort::MarkParity;
    case Parity::Space:
        return QSerialPort::SpaceParity;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits toQt(StopBits s) {
    switch (s) {
    case StopBits::One:
        return QSerialPort::OneStop;
    case StopBits::OneAndHalf:
        return QSerialPort::OneAndHalfStop;
    case StopBits::Two:
        return QSerialPort::TwoStop;
    }
    return QSerialPort::OneStop;
}

} // namespace

QtSerialPort::QtSerialPort(QObject* parent) : QObject(parent) {
    const auto received = [this] {
        if (m_handleReceived) {
            m_handleReceived();
        }
    };
    connect(&m_port, &QSerialPort::readyRead, this, received);
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialPort::handleError);
    m_network.onReceived = received;
    m_network.onOpened = [this](const SerialResult& result) {
        if (m_handleOpened) {
            m_handleOpened(result);
        }
    };
    m_network.onLost = [this](const std::string& reason) {
        if (m_handleLost) {
            m_handleLost(m_device, reason);
        }
    };
    setPortNumber(1);
}

std::string QtSerialPort::deviceFor(int number) const {
    const std::string& named = m_named.at(number - 1);
    return deviceForPort(number,
                         named.empty() ? std::getenv(portVariable(number).c_str()) : named.c_str(),
                         kWindows);
}

SerialResult QtSerialPort::failure() const {
    return SerialResult::failure(m_device + ": " + m_port.errorString().toStdString());
}

SerialResult QtSerialPort::setPortNumber(int number) {
    if (isOpen()) {
        return SerialResult::failure("the port number cannot change while the port is open");
    }
    m_number = number;
    m_device = deviceFor(number);
    return SerialResult::success();
}

SerialResult QtSerialPort::setSettings(std::string_view settings) {
    const auto parsed = parseLineSettings(settings);
    if (!parsed) {
        return SerialResult::failure("invalid line settings \"" + std::string(settings) + "\"");
    }
    // Applied at once on an open port; a closed port keeps them for the next open.
    m_settings = *parsed;
    m_network.applySettings(*parsed);
    const bool ok = m_port.setBaudRate(parsed->baud) && m_port.setParity(toQt(parsed->parity)) &&
                    m_port.setDataBits(static_cast<QSerialPort::DataBits>(parsed->dataBits)) &&
                    m_port.setStopBits(toQt(parsed->stopBits)) &&
                    m_port.setFlowControl(QSerialPort::NoFlowControl);
    return ok ? SerialResult::success() : failure();
}

SerialResult QtSerialPort::open() {
    if (isOpen()) {
        return SerialResult::failure(m_device + ": already open");
    }
    const ParsedAddress parsed = parseLineAddress(m_device);
    if (!parsed.address) {
        return SerialResult::failure(parsed.error);
    }
    if (parsed.address->kind != LineAddress::Kind::Device) {
        m_network.open(*parsed.address, m_settings);
        return SerialResult::connecting();
    }
    m_port.setPortName(QString::fromStdString(m_device));
    if (!m_port.open(QIODevice::ReadWrite)) {
        return failure();
    }
    return SerialResult::success();
}

SerialResult QtSerialPort::close() {
    if (m_port.isOpen()) { // closing a closed QSerialPort reports NotOpenError
        m_port.close();
    }
    m_network.close();
    return SerialResult::success();
}

SerialResult QtSerialPort::write(std::string_view bytes) {
    if (m_network.isOpen()) {
        const SerialResult written = m_network.write(bytes);
        m_bytesWritten += written.ok ? bytes.size() : 0;
        return written;
    }
    if (!m_port.isOpen()) {
        return SerialResult::failure("no serial port is open");
    }
    const auto size = static_cast<qint64>(bytes.size());
    if (m_port.write(bytes.data(), size) != size) {
        return failure();
    }
    m_bytesWritten += static_cast<std::uint64_t>(size);
    // Hand the frame to the driver now rather than on the next pass of the event loop.
    m_port.flush();
    return SerialResult::success();
}

std::string QtSerialPort::readAll() {
    if (m_network.isOpen()) {
        return m_network.readAll();
    }
    const QByteArray data = m_port.readAll();
    return {data.constData(), static_cast<std::size_t>(data.size())};
}

std::size_t QtSerialPort::pendingOutput() const {
    if (m_network.isOpen()) {
        return m_network.pendingOutput();
    }
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

std::vector<std::string> QtSerialPort::portsOnMachine() const {
    std::vector<std::string> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString about =
            info.description().isEmpty() ? QString() : " (" + info.description() + ")";
        ports.push_back((info.systemLocation() + about).toStdString());
    }
    return ports;
}

std::string QtSerialPort::lossReason() const {
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

void QtSerialPort::handleError(QSerialPort::SerialPortError error) {
    // Harmless: the call succeeded, a wait timed out, or a pseudo-terminal has no modem lines.
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError ||
        error == QSerialPort::UnsupportedOperationError) {
        return;
    }
    // A vanished device keeps raising errors until the port is closed. Close it once, after
    // this signal has returned, and report the loss once.
    if (m_port.isOpen() && !m_lossQueued) {
        m_lossQueued = true;
        m_lossReason = lossReason();
        QMetaObject::invokeMethod(this, &QtSerialPort::handleLoss, Qt::QueuedConnection);
    }
}

void QtSerialPort::handleLoss() {
    m_lossQueued = false;
    if (!m_port.isOpen()) {
        return; // closed on purpose in the meantime
    }
    m_port.close();
    if (m_handleLost) {
        m_handleLost(m_device, m_lossReason);
    }
}

} // namespace vk9::qt
