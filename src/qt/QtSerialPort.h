#pragma once

#include "NetworkLine.h"
#include "line/LineSettings.h"
#include "ports/SerialPort.h"

#include <QObject>
#include <QSerialPort>

#include <array>
#include <cstdint>
#include <functional>

namespace vk9::qt {

// The serial-port component: port numbers map to lines as deviceForPort() says, and a line
// is a local device on QSerialPort or a network line. Received data, the outcome of a
// pending open and a lost line come back through the handlers.
class QtSerialPort final : public QObject, public SerialPort {
public:
    explicit QtSerialPort(QObject* parent = nullptr);

    void onReceived(std::function<void()> handler) { m_handleReceived = std::move(handler); }
    void onOpened(std::function<void(const SerialResult&)> handler) {
        m_handleOpened = std::move(handler);
    }
    // A lost line: the device's name and the system's reason.
    void onLost(std::function<void(const std::string&, const std::string&)> handler) {
        m_handleLost = std::move(handler);
    }
    // The device named for port 1 or 2 on the command line, before any variable.
    void nameDevice(int number, std::string device) { m_named.at(number - 1) = std::move(device); }
    std::string deviceFor(int number) const;

    SerialResult setPortNumber(int number) override;
    int portNumber() const override { return m_number; }
    SerialResult setSettings(std::string_view settings) override;
    bool isOpen() const override { return m_port.isOpen() || m_network.isOpen(); }
    SerialResult open() override;
    SerialResult close() override;
    SerialResult write(std::string_view bytes) override;
    std::string readAll() override;
    std::size_t pendingOutput() const override;
    std::vector<std::string> portsOnMachine() const override;

    const std::string& deviceName() const { return m_device; }
    // Bytes accepted for the line since start-up, for diagnostics and the benchmark.
    std::uint64_t bytesWritten() const { return m_bytesWritten; }

private:
    void handleError(QSerialPort::SerialPortError error);
    void handleLoss();
    SerialResult failure() const;
    std::string lossReason() const;

    QSerialPort m_port;
    NetworkLine m_network;
    std::array<std::string, 2> m_named;
    int m_number = 1;
    std::string m_device; // as configured; QSerialPort shortens /dev/ names
    LineSettings m_settings;
    std::uint64_t m_bytesWritten = 0;
    bool m_lossQueued = false;
    std::string m_lossReason; // the first error's; later ones repeat it
    std::function<void()> m_handleReceived;
    std::function<void(const SerialResult&)> m_handleOpened;
    std::function<void(const std::string&, const std::string&)> m_handleLost;
};

} // namespace vk9::qt
