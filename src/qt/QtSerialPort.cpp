#include "QtSerialPort.h"

#include "DeviceLine.h"
#include "NetworkLine.h"

#include <QSerialPortInfo>
#include <QtGlobal>

#include <cstdlib>

namespace vk9::qt {

namespace {

constexpr bool kWindows =
#if defined(Q_OS_WIN)
    true;
#else
    false;
#endif

} // namespace

QtSerialPort::QtSerialPort(QObject* parent) : QObject(parent) {
    m_events.received = [this] {
        if (m_received) {
            m_received();
        }
    };
    m_events.opened = [this](const SerialResult& result) {
        if (m_opened) {
            m_opened(result);
        }
    };
    m_events.lost = [this](const std::string& reason) {
        if (m_lost) {
            m_lost(m_device, reason, m_line->comesBack());
        }
    };
    m_events.note = [this](const std::string& text, bool show) {
        if (m_note) {
            m_note(m_device, text, show);
        }
    };
    setPortNumber(1);
}

QtSerialPort::~QtSerialPort() {
    m_events = {};
    // Each line closes in its destructor; none may outlive the events it refers to.
    qDeleteAll(findChildren<Line*>(Qt::FindDirectChildrenOnly));
}

std::string QtSerialPort::deviceFor(int number) const {
    const std::string& named = m_named.at(number - 1);
    return deviceForPort(number,
                         named.empty() ? std::getenv(portVariable(number).c_str()) : named.c_str(),
                         kWindows);
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
    m_settings = *parsed; // a closed port keeps them for the next open
    return isOpen() ? m_line->applySettings(*parsed) : SerialResult::success();
}

SerialResult QtSerialPort::open() {
    if (isOpen()) {
        return SerialResult::failure(m_device + ": already open");
    }
    const ParsedAddress parsed = parseLineAddress(m_device);
    if (!parsed.address) {
        return SerialResult::failure(parsed.error);
    }
    if (m_line != nullptr) {
        // The line may be in the middle of telling something: it goes once that is done.
        m_line->close();
        m_line->deleteLater();
    }
    if (parsed.address->kind == LineAddress::Kind::Device) {
        m_line = new DeviceLine(m_device, m_events);
    } else {
        m_line = new NetworkLine(*parsed.address, m_events);
    }
    m_line->setParent(this);
    return m_line->open(m_settings);
}

SerialResult QtSerialPort::close() {
    if (m_line != nullptr) {
        m_line->close();
    }
    return SerialResult::success();
}

SerialResult QtSerialPort::write(std::string_view bytes) {
    if (!isOpen()) {
        return SerialResult::failure("no serial port is open");
    }
    const SerialResult written = m_line->write(bytes);
    m_bytesWritten += written.ok ? bytes.size() : 0;
    return written;
}

std::string QtSerialPort::readAll() {
    return m_line != nullptr ? m_line->readAll() : std::string();
}

std::size_t QtSerialPort::pendingOutput() const {
    return isOpen() ? m_line->pendingOutput() : 0;
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

} // namespace vk9::qt
