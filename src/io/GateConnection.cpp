#include "io/GateConnection.h"

#include "transport/Printable.h"

namespace vk9::qt {

namespace {

using namespace std::chrono_literals;

constexpr auto kWelcomeWithin = 2s;

LineAddress rawTcp(LineAddress address) {
    address.kind = LineAddress::Kind::Tcp;
    return address;
}

} // namespace

GateConnection::GateConnection(LineAddress address, const ConnectionEvents& events)
    : Connection(events), m_name(address.host + ":" + std::to_string(address.port)),
      m_tcpEvents{[this] { received(); },
                  [this](const SerialResult& r) { opened(r); },
                  [this](const std::string& why) {
                      // Before its answer to the greeting: a gate with max_clients clients
                      // turns the next away as it connects.
                      tellLost(m_welcomed ? why
                               : !m_turnedAway.empty()
                                   ? m_name + " turned this client away: " + m_turnedAway
                                   : m_name + " closed the connection before "
                                              "answering: a gate with its most "
                                              "clients turns the next away");
                  },
                  [this](const std::string& text, bool show) { note(text, show); },
                  {}},
      m_tcp(rawTcp(std::move(address)), m_tcpEvents) {
    m_tcp.speaksFirst();
    m_welcome.setSingleShot(true);
    connect(&m_welcome, &QTimer::timeout, this, [this] {
        const std::string said = shownBytes(m_partial.substr(0, 40));
        m_tcp.close();
        tellOpened(SerialResult::failure(m_name + " is not a vk9gate" +
                                         (said.empty() ? "" : ": it said \"" + said + "\"") +
                                         "; a device server's line is tcp:// or rfc2217://"));
    });
}

SerialResult GateConnection::open(const SerialSettings& settings) {
    shut();
    m_settings = settings;
    const SerialResult result = pending();
    (void)m_tcp.open(settings); // always pending: its outcome comes to opened()
    return result;
}

void GateConnection::shut() {
    m_welcome.stop();
    m_tcp.close();
    m_welcomed = false;
    m_turnedAway.clear();
    m_partial.clear();
    m_frames.clear();
    m_written = 0;
}

void GateConnection::opened(const SerialResult& result) {
    if (!result.ok) {
        tellOpened(result);
        return;
    }
    (void)m_tcp.write(tickets::kGreeting);
    m_welcome.start(kWelcomeWithin);
}

void GateConnection::received() {
    m_partial += m_tcp.readAll();
    for (auto end = m_partial.find('\n'); end != std::string::npos; end = m_partial.find('\n')) {
        const std::string line = m_partial.substr(0, end);
        m_partial.erase(0, end + 1);
        heard(line);
    }
}

void GateConnection::heard(const std::string& line) {
    if (!m_welcomed) {
        if (constexpr std::string_view kWhy = "vk9gate: "; line.starts_with(kWhy)) {
            std::string why = line.substr(kWhy.size(), 120);
            if (!why.empty() && why.back() == '\r') {
                why.pop_back();
            }
            m_turnedAway = shownBytes(why); // the close follows
            return;
        }
        if (line + "\n" != tickets::kWelcome) {
            m_partial = line;
            m_welcome.stop();
            m_welcome.start(0ms); // told as a line that is not a gate's
            return;
        }
        m_welcomed = true;
        m_welcome.stop();
        tellOpened(SerialResult::success());
        return;
    }
    const auto notice = tickets::parseNotice(line);
    const auto frame = notice ? m_frames.find(notice->frame) : m_frames.end();
    if (frame == m_frames.end()) {
        return; // a word of a later gate's, or of a frame this side does not know
    }
    const std::string text = frame->second;
    if (notice->fate != tickets::Fate::Sent) {
        m_frames.erase(frame);
    }
    fate(text, *notice); // a reply too: whose it is matters to every owner
}

SerialResult GateConnection::write(std::string_view bytes) {
    if (!m_welcomed) {
        return SerialResult::failure(isOpen() ? "still connecting to " + m_name
                                              : "no serial port is open");
    }
    const SerialResult written = m_tcp.write(bytes);
    if (written.ok) {
        for (auto end = bytes.find('\r'); end != std::string_view::npos; end = bytes.find('\r')) {
            m_frames[++m_written] = std::string(bytes.substr(0, end + 1));
            bytes.remove_prefix(end + 1);
        }
    }
    return written;
}

SerialResult GateConnection::applySettings(const SerialSettings& settings) {
    m_settings = settings;
    return SerialResult::success();
}

} // namespace vk9::qt
