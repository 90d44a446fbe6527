#pragma once

#include "io/Connection.h"

#include <QSerialPort>

namespace vk9::qt {

// A local serial device on QSerialPort: a USB adapter, a built-in port, a pseudo-terminal.
// It is opened and locked by its real path, so that two names of one device (a symbolic
// link and its target) can never both hold it.
class DeviceConnection final : public Connection {
public:
    DeviceConnection(std::string device, const ConnectionEvents& events);
    ~DeviceConnection() override { shut(); }
    DeviceConnection(const DeviceConnection&) = delete;
    DeviceConnection& operator=(const DeviceConnection&) = delete;

    SerialResult open(const SerialSettings& settings) override;
    bool isOpen() const override { return m_port.isOpen(); }
    SerialResult write(std::string_view bytes) override;
    SerialResult applySettings(const SerialSettings& settings) override;
    std::size_t pendingOutput() const override;
    void discardInput() override;
    int speed() const override { return m_settings.baud; }

private:
    void shut() override;
    void handleError(QSerialPort::SerialPortError error);
    SerialResult failure() const;
    std::string lossReason() const;

    QSerialPort m_port;
    std::string m_device; // as named
    SerialSettings m_settings;
};

// Who holds a device's lock, as "process PID (NAME)", or nothing when no one does.
std::string lockHolder(const QString& realPath);

} // namespace vk9::qt
