#pragma once

#include "line/LineSettings.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vk9 {

// The client side of a Telnet line with the COM port option, as serial device servers
// offer it: data bytes 255 are doubled on the way out and undoubled on the way in, the
// options are negotiated, and the line settings are sent on to the far serial port. Bytes
// in, bytes out: the caller owns the connection.
class TelnetCodec {
public:
    // What the client says first: it will send binary data and the COM port option, and
    // asks for binary data back; then the line settings.
    std::string greeting(const LineSettings& settings);
    // The far serial port's speed, data bits, parity and stop bits.
    static std::string lineSettings(const LineSettings& settings);
    // Data as it goes on the connection.
    std::string encode(std::string_view data) const;
    // Splits what arrived into the data it carries (returned) and the answers that the
    // server's negotiation needs (appended to replies). Works on any split of the stream;
    // the answers never outgrow what arrived.
    std::string decode(std::string_view bytes, std::string& replies);

private:
    enum class State : std::uint8_t { Data, Command, Option, Sub, SubCommand };
    void negotiate(std::uint8_t verb, std::uint8_t option, std::string& replies);

    State m_state = State::Data;
    std::uint8_t m_verb = 0;
    bool m_afterCr = false;
    std::array<bool, 256> m_local{};        // options in force on our side (WILL)
    std::array<bool, 256> m_remote{};       // options in force on the server's side (DO)
    std::array<bool, 256> m_refusedLocal{}; // refused once already
    std::array<bool, 256> m_refusedRemote{};
};

} // namespace vk9
