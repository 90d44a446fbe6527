#pragma once

#include "line/LineSettings.h"
#include "line/Telnet.h"
#include "ports/SerialPort.h"

#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <string>

namespace vk9::qt {

// A serial line behind a network device server: raw TCP, or Telnet with the COM port
// option, on which the line settings reach the far serial port. Connecting never blocks
// the event loop; it gives up after 3 s.
class NetworkLine final : public QObject {
public:
    explicit NetworkLine(QObject* parent = nullptr);

    std::function<void(const SerialResult&)> onOpened; // connected, or given up
    std::function<void()> onReceived;
    std::function<void(const std::string&)> onLost; // the reason

    void open(const LineAddress& address, const LineSettings& settings);
    void close();
    bool isOpen() const; // connecting or connected
    SerialResult write(std::string_view bytes);
    std::string readAll();
    std::size_t pendingOutput() const;
    void applySettings(const LineSettings& settings);

private:
    void handleConnected();
    void handleReadyRead();
    void handleError(QAbstractSocket::SocketError error);
    void handleLoss(unsigned attempt, const std::string& reason);
    void giveUp(const std::string& message);

    std::string name() const; // HOST:PORT
    bool telnet() const { return m_address.kind == LineAddress::Kind::Rfc2217; }

    enum class Phase { Closed, Connecting, Open };
    QTcpSocket m_socket;
    QTimer m_deadline;
    TelnetCodec m_telnet;
    LineAddress m_address;
    LineSettings m_settings;
    Phase m_phase = Phase::Closed;
    unsigned m_attempt = 0; // counts opens: a loss told late belongs to one of them
    std::string m_input;    // data arrived and not yet read
};

} // namespace vk9::qt
