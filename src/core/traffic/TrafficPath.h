#pragma once

#include "context/Context.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vk9 {

// Which way the traffic goes: a frame out to the line, or what arrived from it.
enum class Direction : std::uint8_t { Transmit = 1, Receive = 2 };

// The receive buffer keeps at most this many bytes; later bytes are read from the port and
// dropped until Timer2 or a release empties the buffer. Decoding looks only at the start of
// the buffer, and 1 KiB renders to 3 KiB, so a chatty or broken device can neither grow
// memory nor slow the window down.
inline constexpr std::size_t kReceiveBufferCap = 1024;

// The operator's notice in the STATUS box when a frame could not be written.
inline constexpr std::string_view kNotSentPrefix = " Not sent: ";

// The one routine all traffic passes through. Transmit: write the text, show it in the TXD
// box, open the reply window, and count the frame's time on the line. Receive: show the
// text in the RXD box and decode it.
// Returns false when the write failed; nothing is then rendered and no timer started.
bool passTraffic(Context& ctx, const std::string& text, Direction direction);

// A command frame: the address prefix, the three-character code and a carriage return.
std::string commandFrame(std::string_view addressPrefix, std::string_view code);

// Every command source: compose the frame into commandText, then transmit it.
bool sendCommand(Context& ctx, std::string_view code);

// The port's "received" event: append what arrived and show the buffer.
void receive(Context& ctx);

} // namespace vk9
