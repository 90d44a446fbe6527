#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vk9 {

enum class Parity { None, Even, Odd, Mark, Space };
enum class StopBits { One, OneAndHalf, Two };

// A settings text such as "19200,N,8,1": speed, parity letter, data bits, stop bits.
struct SerialSettings {
    int baud = 19200;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;
};

std::optional<SerialSettings> parseSerialSettings(std::string_view text);

// Where a line is: a local device by its path, a serial line behind a network device
// server, as raw TCP ("tcp://HOST:PORT") or as Telnet with the COM port option
// ("rfc2217://HOST:PORT"), or a line shared through vk9gate, which tells what became of each
// frame ("gate://HOST:PORT").
struct LineAddress {
    enum class Kind { Device, Tcp, Rfc2217, Gate };
    Kind kind = Kind::Device;
    std::string path; // the device, or HOST:PORT as given
    std::string host;
    int port = 0;
};

// The address, or why the text names none (a one-line reason).
struct ParsedAddress {
    std::optional<LineAddress> address;
    std::string error;
};
ParsedAddress parseLineAddress(std::string_view text);

} // namespace vk9
