#include "transport/Telnet.h"

#include <algorithm>

namespace vk9 {

using namespace telnet;

namespace {

constexpr char kNoFlowControl = 1; // SET-CONTROL's value: no flow control, both ways

// The COM port option's values, in the order of the enums: Parity None, Even, Odd, Mark,
// Space; StopBits One, OneAndHalf, Two.
constexpr char kParityCodes[] = {1, 3, 2, 4, 5};
constexpr char kStopCodes[] = {1, 3, 2};

// At most this many settings sent and not yet answered are remembered: a few choices' worth.
constexpr std::size_t kMaxAsked = 20;

// How the operator reads a setting's value, by command; empty for a value of no known form.
std::string settingName(std::uint8_t command, const std::string& value) {
    if (command == kSetBaudRate || value.size() != 1) {
        return {};
    }
    const auto v = static_cast<std::uint8_t>(value[0]);
    static constexpr const char* kParities[] = {"", "no", "odd", "even", "mark", "space"};
    static constexpr const char* kStops[] = {"", "1", "2", "1.5"};
    static constexpr const char* kControls[] = {"", "no", "XON/XOFF", "hardware"};
    switch (command) {
    case kSetDataSize:
        return v >= 5 && v <= 8 ? std::to_string(v) + " data bits" : std::string();
    case kSetParity:
        return v >= 1 && v <= 5 ? kParities[v] + std::string(" parity") : std::string();
    case kSetStopSize:
        return v >= 1 && v <= 3 ? kStops[v] + std::string(" stop bits") : std::string();
    case kSetControl:
        return v >= 1 && v <= 3 ? kControls[v] + std::string(" flow control") : std::string();
    default:
        return {};
    }
}

std::string verb(char what, std::uint8_t option) {
    return {kIac, what, static_cast<char>(option)};
}

// IAC SB COM-PORT-OPTION command value IAC SE, with any 255 in the value doubled.
std::string comPort(char what, std::string_view value) {
    std::string out{kIac, kSb, static_cast<char>(kComPort), what};
    for (const char c : value) {
        out += c;
        if (c == kIac) {
            out += kIac;
        }
    }
    return out + kIac + kSe;
}

std::string bigEndian(std::uint32_t value) {
    return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
}

} // namespace

std::string TelnetClient::start() {
    std::string out;
    ask(m_us, kBinary, out);
    ask(m_him, kBinary, out);
    ask(m_us, kComPort, out);
    return out;
}

std::string TelnetClient::chooseSettings(const SerialSettings& settings) {
    m_settings = settings;
    m_settingsChosen = true;
    return comPortAgreed() ? settingsNow() : std::string();
}

std::string TelnetClient::settingsNow() {
    const auto baud = static_cast<std::uint32_t>(m_settings.baud);
    const Request requests[] = {
        {kSetBaudRate, bigEndian(baud)},
        {kSetDataSize, std::string(1, char(m_settings.dataBits))},
        {kSetParity, std::string(1, kParityCodes[static_cast<int>(m_settings.parity)])},
        {kSetStopSize, std::string(1, kStopCodes[static_cast<int>(m_settings.stopBits)])},
        {kSetControl, std::string(1, kNoFlowControl)},
    };
    std::string out;
    for (const Request& r : requests) {
        if (m_asked.size() == kMaxAsked) {
            m_asked.pop_front(); // a server that never answers
        }
        m_asked.push_back(r);
        m_lastSent.at(r.command) = r.value;
        out += comPort(static_cast<char>(r.command), r.value);
    }
    return out;
}

std::string TelnetClient::encode(std::string_view data) const {
    const bool binary = m_us.options[kBinary].state == Q::Yes;
    std::string out;
    out.reserve(data.size() + 8);
    for (const char c : data) {
        out += c;
        if (c == kIac) {
            out += kIac;
        } else if (c == '\r' && !binary) {
            out += '\0'; // a bare carriage return outside binary mode
        }
    }
    return out;
}

std::string TelnetClient::decode(std::string_view bytes, std::string& out) {
    std::string data;
    for (const char c : bytes) {
        switch (m_state) {
        case State::Data:
            if (c == kIac) {
                m_state = State::Command;
            } else if (!(c == '\0' && m_afterCr && m_him.options[kBinary].state != Q::Yes)) {
                data += c;
            }
            m_afterCr = c == '\r';
            break;
        case State::Command:
            m_afterCr = false;
            command(c, data);
            break;
        case State::Verb:
            received(m_verb == kWill || m_verb == kWont ? m_him : m_us,
                     m_verb == kWill || m_verb == kDo, static_cast<std::uint8_t>(c), out);
            m_state = State::Data;
            break;
        case State::Sub:
            if (c == kIac) {
                m_state = State::SubCommand;
            } else {
                keepInSub(c);
            }
            break;
        case State::SubCommand:
            if (c == kSe) {
                if (m_subLength <= kMaxSubnegotiation) {
                    subnegotiation(); // a longer one is none we know
                }
                m_sub.clear();
                m_state = State::Data;
            } else if (c == kIac) {
                m_state = State::Sub;
                keepInSub(kIac); // a 255 in the value
            } else {
                // Not IAC SE: the subnegotiation was cut off. Given up, and this byte is
                // the command it really is.
                m_sub.clear();
                command(c, data);
            }
            break;
        }
    }
    return data;
}

// Every byte up to IAC SE belongs to the subnegotiation (RFC 855), and none of it is data:
// the first kMaxSubnegotiation are kept, the rest only counted. One that runs on for
// kMaxSkipped more bytes without its end is given up, so that a server that never ends it
// cannot swallow the line for good.
void TelnetClient::keepInSub(char c) {
    ++m_subLength;
    if (m_subLength <= kMaxSubnegotiation) {
        m_sub += c;
    } else if (m_subLength > kMaxSubnegotiation + kMaxSkipped) {
        m_sub.clear();
        m_state = State::Data;
    }
}

void TelnetClient::command(char c, std::string& data) {
    if (c == kIac) {
        data += kIac;
        m_state = State::Data;
    } else if (c == kWill || c == kWont || c == kDo || c == kDont) {
        m_verb = c;
        m_state = State::Verb;
    } else if (c == kSb) {
        m_sub.clear();
        m_subLength = 0;
        m_state = State::Sub;
    } else {
        m_state = State::Data; // NOP, go-ahead and the like mean nothing here
    }
}

// RFC 1143, section 7: the answer to WILL or DO (enable) and WONT or DONT (disable) from
// each state of the option on that side.
void TelnetClient::received(Side& side, bool enable, std::uint8_t option, std::string& out) {
    Option& o = side.options[option];
    const bool ours = &side == &m_us;
    const bool acceptable =
        option == kBinary || option == kSuppressGoAhead || (ours && option == kComPort);
    const Q before = o.state;
    switch (o.state) {
    case Q::No:
        if (enable && acceptable) {
            o.state = Q::Yes;
            out += verb(side.yes, option);
        } else if (enable) {
            out += verb(side.no, option); // refused, as often as it is asked
        }
        break;
    case Q::Yes:
        if (!enable) {
            o.state = Q::No;
            out += verb(side.no, option);
        }
        break;
    case Q::WantNo:
        if (enable || !o.opposite) {
            o.state = enable && o.opposite ? Q::Yes : Q::No;
        } else {
            o.state = Q::WantYes;
            out += verb(side.yes, option);
        }
        o.opposite = false;
        break;
    case Q::WantYes:
        if (enable && o.opposite) {
            o.state = Q::WantNo;
            out += verb(side.no, option);
        } else {
            o.state = enable ? Q::Yes : Q::No;
        }
        o.opposite = false;
        break;
    }
    if (!ours || option != kComPort || o.state == before) {
        return;
    }
    if (o.state == Q::Yes && m_settingsChosen) {
        out += settingsNow(); // agreed: the settings go out with the answer
    } else if (o.state == Q::No && (before == Q::Yes || before == Q::WantYes)) {
        m_news.comPortRefused = m_refused = true;
        m_asked.clear();
    }
}

void TelnetClient::ask(Side& side, std::uint8_t option, std::string& out) {
    Option& o = side.options[option];
    if (o.state == Q::No) {
        o.state = Q::WantYes;
        out += verb(side.yes, option);
    } else if (o.state == Q::WantNo) {
        o.opposite = true;
    } else if (o.state == Q::WantYes) {
        o.opposite = false;
    }
}

void TelnetClient::subnegotiation() {
    const std::string sub = std::exchange(m_sub, {});
    if (sub.size() < 2 || static_cast<std::uint8_t>(sub[0]) != kComPort) {
        return; // nothing else is ours to read
    }
    const auto what = static_cast<std::uint8_t>(sub[1]);
    if (what == kServer + kSuspend || what == kServer + kResume) {
        m_suspended = what == kServer + kSuspend;
    } else if (what > kServer && what <= kServer + kSetControl) {
        m_answered = true;
        m_speedAnswered = m_speedAnswered || what == kServer + kSetBaudRate;
        compare(static_cast<std::uint8_t>(what - kServer), sub.substr(2));
    }
}

// An answer to a setting: it answers the oldest request of its kind that is still open, or,
// when none is, it tells what the far line now runs with, to be read against what we last
// sent. A value of a form we cannot read is an answer all the same.
void TelnetClient::compare(std::uint8_t command, const std::string& value) {
    std::string asked = m_lastSent.at(command);
    const auto request = std::find_if(m_asked.begin(), m_asked.end(),
                                      [&](const Request& r) { return r.command == command; });
    if (request != m_asked.end()) {
        asked = request->value;
        m_asked.erase(request);
    }
    if (command == kSetBaudRate) {
        if (value.size() != 4) {
            return;
        }
        std::uint32_t speed = 0;
        for (const char c : value) {
            speed = (speed << 8) | static_cast<std::uint8_t>(c);
        }
        m_reportedSpeed = speed;
        if (!asked.empty() && value != asked) {
            m_news.otherSpeed = speed;
        }
        return;
    }
    const std::string now = settingName(command, value);
    const std::string wanted = settingName(command, asked);
    if (!asked.empty() && value != asked && !now.empty() && !wanted.empty()) {
        m_news.notTaken.push_back(wanted + ": the line runs with " + now);
    }
}

} // namespace vk9
