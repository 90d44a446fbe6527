#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vk9 {

enum class Parity { None, Even, Odd, Mark, Space };
enum class StopBits { One, OneAndHalf, Two };

// A settings text such as "19200,N,8,1": speed, parity letter, data bits, stop bits.
struct LineSettings {
    int baud = 19200;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;
};

std::optional<LineSettings> parseLineSettings(std::string_view text);

// The device behind a port number. On Windows port N is "COMN". Elsewhere the device named
// by VK9RSC_COM<N> when it is set (a USB adapter, a pseudo-terminal, a network bridge),
// else /dev/ttyS<N-1>.
std::string deviceForPort(int number, const char* configured, bool windows);
std::string portVariable(int number); // "VK9RSC_COM1"

} // namespace vk9
