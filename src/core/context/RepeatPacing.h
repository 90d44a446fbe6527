#pragma once

#include "ports/SerialPort.h"

#include <algorithm>
#include <chrono>
#include <cstddef>

namespace vk9 {

// How long a frame takes on the wire at a line speed: 10 bits a character (start bit, 8
// data bits, stop bit), rounded up to the microsecond.
constexpr std::chrono::microseconds lineTime(std::size_t bytes, int bitsPerSecond) {
    if (bitsPerSecond <= 0) {
        return std::chrono::microseconds{0};
    }
    const auto bits = static_cast<long long>(bytes) * 10 * 1000000;
    return std::chrono::microseconds{(bits + bitsPerSecond - 1) / bitsPerSecond};
}

// A repeat by the line's own clock. A copy goes only once the frames before it have had
// their time on the wire, so that at most one copy waits between the sender and the
// projector, whatever buffers lie between (a USB chip, a device server), as long as the
// speed it is given is the far line's: a local device's, or the one a Telnet server
// reports. Over raw TCP it is the speed chosen, which the device server may not share.
// Time passes only as repeat periods: a tick that comes late, or not at all, errs on the
// side of sending less. Queues that the port can measure, and a far end that holds our
// data, add to it.
class RepeatPacing {
public:
    void restart() { m_owed = {}; } // the line is taken to be idle when a hold begins
    // A frame was written: it starts on the wire once those before it are done.
    void sent(std::size_t bytes, int bitsPerSecond) {
        m_owed = std::max(m_owed, std::chrono::microseconds{0}) + lineTime(bytes, bitsPerSecond);
    }
    // A repeat tick, one period after the last: whether a copy may go now.
    bool mayRepeat(std::chrono::milliseconds period, const SerialPort& port) {
        m_owed -= period;
        return m_owed <= std::chrono::microseconds{0} && port.pendingOutput() == 0 &&
               !port.suspended();
    }

private:
    std::chrono::microseconds m_owed{0}; // line time still due to frames already written
};

} // namespace vk9
