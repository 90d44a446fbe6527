#pragma once

#include "io/Connection.h"
#include "transport/Telnet.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <set>
#include <string>

namespace vk9::qt {

// A serial line behind a network device server: raw TCP, or Telnet with the COM port
// option, on which the line settings reach the far serial port. Opening is always pending:
// connecting never blocks the event loop, and gives up after 3 s. A Telnet line is open
// only once the server has shown that it speaks Telnet and has answered the settings (or
// its patience, at least 2 s, has run out); until then no frame is sent. Keep-alive probes
// and a bound on unacknowledged data make a server that falls silent a lost line within
// 15 s.
class NetworkConnection final : public Connection {
public:
    NetworkConnection(LineAddress address, const ConnectionEvents& events);
    ~NetworkConnection() override { shut(); }
    NetworkConnection(const NetworkConnection&) = delete;
    NetworkConnection& operator=(const NetworkConnection&) = delete;

    SerialResult open(const SerialSettings& settings) override;
    bool isOpen() const override { return m_phase != Phase::Closed; }
    SerialResult write(std::string_view bytes) override;
    SerialResult applySettings(const SerialSettings& settings) override;
    std::size_t pendingOutput() const override;
    void discardInput() override;
    bool suspended() const override { return telnet() && m_telnet.suspended(); }
    int speed() const override;
    bool comesBack() const override { return true; }
    // A peer that speaks and hangs up at once is not turning the line away: it speaks a
    // language of its own (a gate's tickets).
    void speaksFirst() { m_guessRefusal = false; }

private:
    // Telnet: Greeting until the server's first word, Negotiating until it has answered the
    // settings (or refused them), so that no frame goes out at the wrong speed.
    enum class Phase { Closed, Connecting, Greeting, Negotiating, Open };

    void shut() override;
    void handleConnected();
    void handleReadyRead();
    void handleError(QAbstractSocket::SocketError error);
    void send(const std::string& bytes);
    void keepAlive();
    void failOpen(const std::string& why);
    void becomeOpen();

    std::string name() const; // HOST:PORT
    bool telnet() const { return m_address.kind == LineAddress::Kind::Rfc2217; }

    QTcpSocket m_socket;
    QTimer m_deadline; // connecting, then the Telnet server's first word and its answers
    QTimer m_speakUp;  // our Telnet requests, when the server waits for them
    bool m_requested = false;
    QElapsedTimer m_connecting;
    QElapsedTimer m_connected;
    std::chrono::milliseconds m_patience{0};
    std::set<std::string> m_told; // settings not taken, told once a connection
    std::string m_said;           // what the server said first, for a refusal
    TelnetClient m_telnet;
    LineAddress m_address;
    SerialSettings m_settings;
    Phase m_phase = Phase::Closed;
    bool m_guessRefusal = true;
};

} // namespace vk9::qt
