#pragma once

#include "ports/SerialPort.h"

#include <QObject>
#include <QSerialPort>

#include <cstdint>
#include <functional>

namespace vk9::qt {

// The serial-port component on QSerialPort. Port numbers map to devices as
// deviceForPort() says; received data and a lost port come back through the handlers.
class QtSerialPort final : public QObject, public SerialPort {
public:
    explicit QtSerialPort(QObject* parent = nullptr);

    void onReceived(std::function<void()> handler) { m_handleReceived = std::move(handler); }
    // A lost line: the device's name and the system's reason.
    void onLost(std::function<void(const std::string&, const std::string&)> handler) {
        m_handleLost = std::move(handler);
    }

    SerialResult setPortNumber(int number) override;
    int portNumber() const override { return m_number; }
    SerialResult setSettings(std::string_view settings) override;
    bool isOpen() const override { return m_port.isOpen(); }
    SerialResult open() override;
    SerialResult close() override;
    SerialResult write(std::string_view bytes) override;
    std::string readAll() override;
    std::size_t pendingOutput() const override;

    const std::string& deviceName() const { return m_device; }
    // Bytes accepted for the line since start-up, for diagnostics and the benchmark.
    std::uint64_t bytesWritten() const { return m_bytesWritten; }

private:
    void handleError(QSerialPort::SerialPortError error);
    void handleLoss();
    SerialResult failure() const;
    std::string lossReason() const;

    QSerialPort m_port;
    int m_number = 1;
    std::string m_device; // as configured; QSerialPort shortens /dev/ names
    std::uint64_t m_bytesWritten = 0;
    bool m_lossQueued = false;
    std::string m_lossReason; // the first error's; later ones repeat it
    std::function<void()> m_handleReceived;
    std::function<void(const std::string&, const std::string&)> m_handleLost;
};

} // namespace vk9::qt
