#include "line/Telnet.h"

namespace vk9 {

namespace {

constexpr char kSe = char(240);
constexpr char kSb = char(250);
constexpr char kWill = char(251);
constexpr char kWont = char(252);
constexpr char kDo = char(253);
constexpr char kDont = char(254);
constexpr char kIac = char(255);

constexpr std::uint8_t kBinary = 0;
constexpr std::uint8_t kSuppressGoAhead = 3;
constexpr std::uint8_t kComPort = 44;

// The COM port option's client commands.
constexpr char kSetBaudRate = 1;
constexpr char kSetDataSize = 2;
constexpr char kSetParity = 3;
constexpr char kSetStopSize = 4;

std::string command(char verb, std::uint8_t option) {
    return {kIac, verb, static_cast<char>(option)};
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

// The COM port option's values, in the order of the enums: Parity None, Even, Odd, Mark,
// Space; StopBits One, OneAndHalf, Two.
constexpr char kParityCodes[] = {1, 3, 2, 4, 5};
constexpr char kStopCodes[] = {1, 3, 2};

} // namespace

std::string TelnetCodec::greeting(const LineSettings& settings) {
    m_local[kBinary] = m_local[kComPort] = m_remote[kBinary] = true;
    return command(kWill, kBinary) + command(kDo, kBinary) + command(kWill, kComPort) +
           lineSettings(settings);
}

std::string TelnetCodec::lineSettings(const LineSettings& settings) {
    const auto baud = static_cast<std::uint32_t>(settings.baud);
    const std::string speed{char(baud >> 24), char(baud >> 16), char(baud >> 8), char(baud)};
    return comPort(kSetBaudRate, speed) +
           comPort(kSetDataSize, std::string(1, char(settings.dataBits))) +
           comPort(kSetParity, std::string(1, kParityCodes[static_cast<int>(settings.parity)])) +
           comPort(kSetStopSize, std::string(1, kStopCodes[static_cast<int>(settings.stopBits)]));
}

std::string TelnetCodec::encode(std::string_view data) const {
    std::string out;
    out.reserve(data.size() + 8);
    for (const char c : data) {
        out += c;
        if (c == kIac) {
            out += kIac;
        } else if (c == '\r' && !m_local[kBinary]) {
            out += '\0'; // a bare carriage return outside binary mode
        }
    }
    return out;
}

std::string TelnetCodec::decode(std::string_view bytes, std::string& replies) {
    std::string data;
    for (const char c : bytes) {
        switch (m_state) {
        case State::Data:
            if (c == kIac) {
                m_state = State::Command;
            } else if (!(c == '\0' && m_afterCr && !m_remote[kBinary])) {
                data += c;
            }
            m_afterCr = c == '\r';
            break;
        case State::Command:
            m_afterCr = false;
            if (c == kIac) {
                data += kIac;
                m_state = State::Data;
            } else if (c == kWill || c == kWont || c == kDo || c == kDont) {
                m_verb = static_cast<std::uint8_t>(c);
                m_state = State::Option;
            } else {
                m_state = c == kSb ? State::Sub : State::Data; // other commands mean nothing here
            }
            break;
        case State::Option:
            negotiate(m_verb, static_cast<std::uint8_t>(c), replies);
            m_state = State::Data;
            break;
        case State::Sub: // the server's answers and notices: nothing the panel needs
            m_state = c == kIac ? State::SubCommand : State::Sub;
            break;
        case State::SubCommand:
            m_state = c == kSe ? State::Data : State::Sub;
            break;
        }
    }
    return data;
}

// Accepts binary data and no go-ahead both ways and the COM port option on our side;
// refuses everything else (echo above all: the server would send our frames back). Answers
// only what changes an option's state, and refuses an option once, so that a server that
// repeats itself cannot make the client talk more than it does.
void TelnetCodec::negotiate(std::uint8_t verb, std::uint8_t option, std::string& replies) {
    const bool mine = verb == std::uint8_t(kDo) || verb == std::uint8_t(kDont);
    const bool enable = verb == std::uint8_t(kDo) || verb == std::uint8_t(kWill);
    auto& state = mine ? m_local : m_remote;
    auto& refused = mine ? m_refusedLocal : m_refusedRemote;
    const bool acceptable =
        option == kBinary || option == kSuppressGoAhead || (mine && option == kComPort);
    if (state[option] == enable) {
        return;
    }
    if (!enable) {
        state[option] = false;
        replies += command(mine ? kWont : kDont, option);
    } else if (acceptable) {
        state[option] = true;
        replies += command(mine ? kWill : kDo, option);
    } else if (!refused[option]) {
        refused[option] = true;
        replies += command(mine ? kWont : kDont, option);
    }
}

} // namespace vk9
