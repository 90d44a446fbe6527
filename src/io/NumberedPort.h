#pragma once

#include "io/Connection.h"
#include "ports/SerialPort.h"
#include "transport/PortNames.h"
#include "transport/SerialSettings.h"

#include <QObject>

#include <array>
#include <cstdint>
#include <functional>

namespace vk9::qt {

// The serial-port component: ports 1 and 2 map to lines as lineForPort() says (the command
// line, the variables, the lines file, the default), and each open picks the kind of
// connection its line names (a local device, or a network line). What the connection tells
// comes back through the handlers, with the device's name, on the terms of the line
// contract (ports/SerialPort.h).
class NumberedPort final : public QObject, public SerialPort {
public:
    using LostHandler =
        std::function<void(const std::string& device, const std::string& reason, bool comesBack)>;
    using NoteHandler =
        std::function<void(const std::string& device, const std::string& text, bool show)>;

    explicit NumberedPort(QObject* parent = nullptr);
    ~NumberedPort() override; // the line is closed before the handlers go
    NumberedPort(const NumberedPort&) = delete;
    NumberedPort& operator=(const NumberedPort&) = delete;

    void onReceived(std::function<void()> handler) { m_received = std::move(handler); }
    void onOpened(std::function<void(const SerialResult&)> handler) {
        m_opened = std::move(handler);
    }
    void onLost(LostHandler handler) { m_lost = std::move(handler); }
    void onNote(NoteHandler handler) { m_note = std::move(handler); }
    // A line shared through vk9gate: what became of each frame.
    using FateHandler = std::function<void(const std::string& frame, const tickets::Notice&)>;
    void onFate(FateHandler handler) { m_fate = std::move(handler); }

    // The device named for port 1 or 2 on the command line, before any variable.
    void nameDevice(int number, std::string device) { m_named.at(number - 1) = std::move(device); }
    // The lines file read at start, after the variables (none by default).
    void useLinesFile(LinesFile file) { m_file = std::move(file); }
    NamedLine lineFor(int number) const;

    SerialResult setPortNumber(int number) override;
    int portNumber() const override { return m_number; }
    SerialResult setSettings(std::string_view settings) override;
    bool isOpen() const override { return m_connection != nullptr && m_connection->isOpen(); }
    SerialResult open() override;
    SerialResult close() override;
    SerialResult write(std::string_view bytes) override;
    std::string readAll() override;
    std::size_t pendingOutput() const override;
    bool suspended() const override {
        return isOpen() && (m_connection->suspended() || m_connection->goingAway());
    }
    int lineSpeed() const override { return isOpen() ? m_connection->speed() : m_settings.baud; }
    PortNaming naming() const override;
    std::vector<std::string> portsOnMachine() const override;

    // Throws away whatever has arrived and not been read, down to the driver's buffer.
    void discardInput() {
        if (m_connection != nullptr) {
            m_connection->discardInput();
        }
    }
    const std::string& deviceName() const { return m_device; }
    // Bytes accepted for the line since start-up, for diagnostics and the benchmark.
    std::uint64_t bytesWritten() const { return m_bytesWritten; }

private:
    std::array<std::string, 2> m_named;
    LinesFile m_file;
    int m_number = 1;
    std::string m_device; // as configured
    std::string m_origin; // where it was named
    SerialSettings m_settings;
    std::uint64_t m_bytesWritten = 0;
    ConnectionEvents m_events;          // what the line tells, passed on to the handlers below
    Connection* m_connection = nullptr; // a child; one a device, chosen at each open
    std::function<void()> m_received;
    std::function<void(const SerialResult&)> m_opened;
    LostHandler m_lost;
    NoteHandler m_note;
    FateHandler m_fate;
};

} // namespace vk9::qt
