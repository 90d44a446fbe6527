#pragma once

#include "Line.h"
#include "line/LineSettings.h"
#include "ports/SerialPort.h"

#include <QObject>

#include <array>
#include <cstdint>
#include <functional>

namespace vk9::qt {

// The serial-port component: port numbers map to devices as deviceForPort() says, and each
// open picks the kind of line its device names (a local device, or a network line). What
// the line tells comes back through the handlers, with the device's name, on the terms of
// the line contract (Line.h).
class QtSerialPort final : public QObject, public SerialPort {
public:
    using LostHandler =
        std::function<void(const std::string& device, const std::string& reason, bool comesBack)>;
    using NoteHandler =
        std::function<void(const std::string& device, const std::string& text, bool show)>;

    explicit QtSerialPort(QObject* parent = nullptr);
    ~QtSerialPort() override; // the line is closed before the handlers go
    QtSerialPort(const QtSerialPort&) = delete;
    QtSerialPort& operator=(const QtSerialPort&) = delete;

    void onReceived(std::function<void()> handler) { m_received = std::move(handler); }
    void onOpened(std::function<void(const SerialResult&)> handler) {
        m_opened = std::move(handler);
    }
    void onLost(LostHandler handler) { m_lost = std::move(handler); }
    void onNote(NoteHandler handler) { m_note = std::move(handler); }

    // The device named for port 1 or 2 on the command line, before any variable.
    void nameDevice(int number, std::string device) { m_named.at(number - 1) = std::move(device); }
    std::string deviceFor(int number) const;

    SerialResult setPortNumber(int number) override;
    int portNumber() const override { return m_number; }
    SerialResult setSettings(std::string_view settings) override;
    bool isOpen() const override { return m_line != nullptr && m_line->isOpen(); }
    SerialResult open() override;
    SerialResult close() override;
    SerialResult write(std::string_view bytes) override;
    std::string readAll() override;
    std::size_t pendingOutput() const override;
    bool suspended() const override {
        return isOpen() && (m_line->suspended() || m_line->goingAway());
    }
    int lineSpeed() const override { return isOpen() ? m_line->speed() : m_settings.baud; }
    std::vector<std::string> portsOnMachine() const override;

    // Throws away whatever has arrived and not been read, down to the driver's buffer.
    void discardInput() {
        if (m_line != nullptr) {
            m_line->discardInput();
        }
    }
    const std::string& deviceName() const { return m_device; }
    // Bytes accepted for the line since start-up, for diagnostics and the benchmark.
    std::uint64_t bytesWritten() const { return m_bytesWritten; }

private:
    std::array<std::string, 2> m_named;
    int m_number = 1;
    std::string m_device; // as configured
    LineSettings m_settings;
    std::uint64_t m_bytesWritten = 0;
    LineEvents m_events;    // what the line tells, passed on to the handlers below
    Line* m_line = nullptr; // a child; one a device, chosen at each open
    std::function<void()> m_received;
    std::function<void(const SerialResult&)> m_opened;
    LostHandler m_lost;
    NoteHandler m_note;
};

} // namespace vk9::qt
