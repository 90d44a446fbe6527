#pragma once

#include "transport/SerialSettings.h"

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vk9 {

// The Telnet commands and options that a line to a device server uses (RFC 854, 855, 856,
// 858, 2217), and the COM port option's own commands. The server answers each command with
// the command's number plus 100.
namespace telnet {
inline constexpr char kSe = char(240);
inline constexpr char kSb = char(250);
inline constexpr char kWill = char(251);
inline constexpr char kWont = char(252);
inline constexpr char kDo = char(253);
inline constexpr char kDont = char(254);
inline constexpr char kIac = char(255);

inline constexpr std::uint8_t kBinary = 0;
inline constexpr std::uint8_t kSuppressGoAhead = 3;
inline constexpr std::uint8_t kComPort = 44;

inline constexpr std::uint8_t kSetBaudRate = 1;
inline constexpr std::uint8_t kSetDataSize = 2;
inline constexpr std::uint8_t kSetParity = 3;
inline constexpr std::uint8_t kSetStopSize = 4;
inline constexpr std::uint8_t kSetControl = 5;
inline constexpr std::uint8_t kSuspend = 8;
inline constexpr std::uint8_t kResume = 9;
inline constexpr std::uint8_t kServer = 100;
} // namespace telnet

// The client side of a Telnet line with the COM port option (RFC 854, 855, 1143, 2217), as
// serial device servers offer it. Bytes in, bytes out: the caller owns the connection.
//
// - Each option is tracked both ways with RFC 1143's Q method: every request is answered,
//   and no exchange of requests can loop.
// - Binary data and no go-ahead are accepted both ways; the COM port option on our side.
//   Everything else is refused (echo above all: the server would send our frames back).
// - The line settings reach the far serial port only once the server has agreed to the COM
//   port option, and never after it refused; settings chosen before that go out with the
//   agreement. Every answer is read against the request it answers: a speed, data size,
//   parity, stop size or flow control other than the one asked for is news for the
//   operator. An answer that no request of ours asked for is compared with what we last
//   sent, never with a choice that has not gone out.
// - A subnegotiation keeps at most kMaxSubnegotiation bytes; a longer one is read to its
//   end and ignored, and one that never ends is given up after kMaxSkipped more bytes.
//   Memory stays constant whatever the server sends.
class TelnetClient {
public:
    static constexpr std::size_t kMaxSubnegotiation = 64;
    static constexpr std::size_t kMaxSkipped = 1024;

    // What the server's bytes changed that the operator may need to know.
    struct News {
        bool comPortRefused = false;             // the far speed is the server's
        std::optional<std::uint32_t> otherSpeed; // the server runs at this, not what we asked
        // Other settings the server did not take: "no parity: the line runs with even parity".
        std::vector<std::string> notTaken;
    };

    // Our requests, sent as soon as the connection is up (RFC 854 lets either side speak
    // first): binary data both ways and the COM port option, for whichever the server has
    // not already raised itself.
    std::string start();
    // The settings chosen; returns the subnegotiations to send now, which is nothing until
    // the server has agreed to the COM port option (they then go out with its answer).
    std::string chooseSettings(const SerialSettings& settings);
    // Data as it goes on the connection: 255 doubled, and outside binary mode CR NUL.
    std::string encode(std::string_view data) const;
    // Splits what arrived into the data it carries (returned) and what the client has to
    // send back (appended to `out`). Works on any split of the stream.
    std::string decode(std::string_view bytes, std::string& out);
    News takeNews() { return std::exchange(m_news, {}); }

    bool comPortAgreed() const { return m_us.options[telnet::kComPort].state == Q::Yes; }
    // The server has answered the speed asked for, or refused the COM port option: the far
    // line runs at the speed it will run at, and data may go.
    bool settled() const { return m_speedAnswered || m_refused; }
    // The server has answered a setting of ours: it took the connection as a client's.
    bool answered() const { return m_answered; }
    bool suspended() const { return m_suspended; } // the server asked us to hold our data
    // The speed the far line runs at, as the server last answered, if it did.
    std::optional<std::uint32_t> reportedSpeed() const { return m_reportedSpeed; }

private:
    // RFC 1143: an option's state on one side, with the queue bit.
    enum class Q : std::uint8_t { No, Yes, WantNo, WantYes };
    struct Option {
        Q state = Q::No;
        bool opposite = false;
    };
    struct Side {
        std::array<Option, 256> options{};
        char yes; // the verb that agrees or asks: WILL for our side, DO for the server's
        char no;
    };
    enum class State : std::uint8_t { Data, Command, Verb, Sub, SubCommand };

    void command(char c, std::string& data);
    void keepInSub(char c);
    void received(Side& side, bool enable, std::uint8_t option, std::string& out);
    static void ask(Side& side, std::uint8_t option, std::string& out);
    void subnegotiation();
    void compare(std::uint8_t command, const std::string& value);
    std::string settingsNow();

    // A setting sent and not yet answered: the COM port command and its value.
    struct Request {
        std::uint8_t command;
        std::string value;
    };

    Side m_us{{}, char(251), char(252)};
    Side m_him{{}, char(253), char(254)};
    State m_state = State::Data;
    char m_verb = 0;
    bool m_afterCr = false;
    std::string m_sub; // the subnegotiation being read, option byte first
    std::size_t m_subLength = 0;
    SerialSettings m_settings;
    bool m_settingsChosen = false;
    std::deque<Request> m_asked;             // sent, not yet answered, oldest first
    std::array<std::string, 6> m_lastSent{}; // by command: the value last sent, if any
    std::optional<std::uint32_t> m_reportedSpeed;
    bool m_suspended = false;
    bool m_speedAnswered = false; // in any form, even one we cannot read
    bool m_answered = false;
    bool m_refused = false;
    News m_news;
};

} // namespace vk9
