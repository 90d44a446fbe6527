#pragma once

#include "line/LineSettings.h"

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace vk9 {

// The client side of a Telnet line with the COM port option (RFC 854, 855, 1143, 2217), as
// serial device servers offer it. Bytes in, bytes out: the caller owns the connection.
//
// - Each option is tracked both ways with RFC 1143's Q method: every request is answered,
//   and no exchange of requests can loop.
// - Binary data and no go-ahead are accepted both ways; the COM port option on our side.
//   Everything else is refused (echo above all: the server would send our frames back).
// - The line settings reach the far serial port only once the server has agreed to the COM
//   port option, and never after it refused. The server's answers are read: a speed other
//   than the one asked for is news for the operator.
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
    };

    // Our requests, once the server has shown that it speaks Telnet: binary data both ways
    // and the COM port option, for whichever the server has not already raised itself.
    std::string start();
    // The settings chosen; returns the subnegotiations to send now, which is nothing until
    // the server has agreed to the COM port option (they then go out with its answer).
    std::string chooseSettings(const LineSettings& settings);
    // Data as it goes on the connection: 255 doubled, and outside binary mode CR NUL.
    std::string encode(std::string_view data) const;
    // Splits what arrived into the data it carries (returned) and what the client has to
    // send back (appended to `out`). Works on any split of the stream.
    std::string decode(std::string_view bytes, std::string& out);
    News takeNews() { return std::exchange(m_news, {}); }

    bool comPortAgreed() const { return m_us.options[kComPort].state == Q::Yes; }
    // The server has answered the speed asked for, or refused the COM port option: the far
    // line runs at the speed it will run at, and data may go.
    bool settled() const { return m_speedAnswered || m_refused; }
    bool suspended() const { return m_suspended; } // the server asked us to hold our data
    // The speed the far line runs at, as the server last answered, if it did.
    std::optional<std::uint32_t> reportedSpeed() const { return m_reportedSpeed; }

private:
    static constexpr std::uint8_t kBinary = 0;
    static constexpr std::uint8_t kSuppressGoAhead = 3;
    static constexpr std::uint8_t kComPort = 44;

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
    std::string settingsNow();

    Side m_us{{}, char(251), char(252)};
    Side m_him{{}, char(253), char(254)};
    State m_state = State::Data;
    char m_verb = 0;
    bool m_afterCr = false;
    std::string m_sub; // the subnegotiation being read, option byte first
    std::size_t m_subLength = 0;
    LineSettings m_settings;
    bool m_settingsChosen = false;
    std::deque<std::uint32_t> m_askedSpeeds; // sent, not yet answered
    std::optional<std::uint32_t> m_reportedSpeed;
    bool m_suspended = false;
    bool m_speedAnswered = false; // in any form, even one we cannot read
    bool m_refused = false;
    News m_news;
};

} // namespace vk9
