#pragma once

#include "context/Context.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace vk9 {

// The receive buffer keeps at most this many bytes; later bytes are read from the port and
// dropped until Timer2 or a release empties the buffer. Decoding looks only at the start of
// the buffer, and 1 KiB renders to 3 KiB, so a chatty or broken device can neither grow
// memory nor slow the window down.
inline constexpr std::size_t kReceiveBufferCap = 1024;

// The operator's notice in the STATUS box when a frame could not be written.
inline constexpr std::string_view kNotSentPrefix = " Not sent: ";

// Every frame goes out here: written to the line, shown in the TXD box, the reply window
// opened, and its time on the line counted. Returns false when the write failed; nothing is
// then shown and no timer started, and the operator is told in the STATUS box.
bool transmit(Context& ctx, const std::string& frame);

// What has arrived is shown in the RXD box and decoded into the STATUS box, as the reply to
// `frame` (the frame the panel sent last, unless the line says which).
void showReceived(Context& ctx, const std::string& text, std::string_view frame);

// A command frame: the address prefix, the three-character code and a carriage return.
std::string commandFrame(std::string_view addressPrefix, std::string_view code);

// Every command source: compose the frame into commandText, then transmit it.
bool sendCommand(Context& ctx, std::string_view code);

// The port's "received" event: append what arrived and show the buffer.
void receive(Context& ctx);

// A line that tells which frame a reply answers (one shared through a gate, where a frame
// may wait its turn while the operator clicks again): the reply, whole, shown alone and
// decoded as that frame's.
void receiveReplyTo(Context& ctx, std::string_view frame, std::string_view reply);

} // namespace vk9
