#include "io/NumberedPort.h"

#include "io/DeviceConnection.h"
#include "io/GateConnection.h"
#include "io/NetworkConnection.h"

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

NumberedPort::NumberedPort(QObject* parent) : QObject(parent) {
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
            m_lost(m_device, reason, m_connection->comesBack());
        }
    };
    m_events.note = [this](const std::string& text, bool show) {
        if (m_note) {
            m_note(m_device, text, show);
        }
    };
    m_events.fate = [this](const std::string& frame, const tickets::Notice& notice) {
        if (m_fate) {
            m_fate(frame, notice);
        }
    };
    setPortNumber(1);
}

NumberedPort::~NumberedPort() {
    m_events = {};
    // Each line closes in its destructor; none may outlive the events it refers to.
    qDeleteAll(findChildren<Connection*>(Qt::FindDirectChildrenOnly));
}

NamedLine NumberedPort::lineFor(int number) const {
    return lineForPort(number, m_named.at(number - 1), std::getenv(portVariable(number).c_str()),
                       m_file, kWindows);
}

PortNaming NumberedPort::naming() const {
    const ParsedAddress parsed = parseLineAddress(m_device);
    return {m_device, m_origin, parsed.address && parsed.address->kind != LineAddress::Kind::Device,
            parsed.error};
}

SerialResult NumberedPort::setPortNumber(int number) {
    if (isOpen()) {
        return SerialResult::failure("the port number cannot change while the port is open");
    }
    m_number = number;
    NamedLine line = lineFor(number);
    m_device = std::move(line.device);
    m_origin = std::move(line.origin);
    return SerialResult::success();
}

SerialResult NumberedPort::setSettings(std::string_view settings) {
    const auto parsed = parseSerialSettings(settings);
    if (!parsed) {
        return SerialResult::failure("invalid line settings \"" + std::string(settings) + "\"");
    }
    m_settings = *parsed; // a closed port keeps them for the next open
    return isOpen() ? m_connection->applySettings(*parsed) : SerialResult::success();
}

SerialResult NumberedPort::open() {
    if (isOpen()) {
        return SerialResult::failure(m_device + ": already open");
    }
    const ParsedAddress parsed = parseLineAddress(m_device);
    if (!parsed.address) {
        return SerialResult::failure(m_origin.empty() ? parsed.error
                                                      : m_origin + " " + parsed.error);
    }
    if (m_connection != nullptr) {
        // The line may be in the middle of telling something: it goes once that is done.
        m_connection->close();
        m_connection->deleteLater();
    }
    if (parsed.address->kind == LineAddress::Kind::Device) {
        m_connection = new DeviceConnection(m_device, m_events);
    } else if (parsed.address->kind == LineAddress::Kind::Gate) {
        m_connection = new GateConnection(*parsed.address, m_events);
    } else {
        m_connection = new NetworkConnection(*parsed.address, m_events);
    }
    m_connection->setParent(this);
    return m_connection->open(m_settings);
}

SerialResult NumberedPort::close() {
    if (m_connection != nullptr) {
        m_connection->close();
    }
    return SerialResult::success();
}

SerialResult NumberedPort::write(std::string_view bytes) {
    if (!isOpen()) {
        return SerialResult::failure("no serial port is open");
    }
    const SerialResult written = m_connection->write(bytes);
    m_bytesWritten += written.ok ? bytes.size() : 0;
    return written;
}

std::string NumberedPort::readAll() {
    return m_connection != nullptr ? m_connection->readAll() : std::string();
}

std::size_t NumberedPort::pendingOutput() const {
    return isOpen() ? m_connection->pendingOutput() : 0;
}

std::vector<std::string> NumberedPort::portsOnMachine() const {
    std::vector<std::string> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString about =
            info.description().isEmpty() ? QString() : " (" + info.description() + ")";
        ports.push_back((info.systemLocation() + about).toStdString());
    }
    return ports;
}

} // namespace vk9::qt
