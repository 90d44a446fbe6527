#pragma once

#include <cstdint>
#include <string>

namespace vk9 {

// The window's state record. Every handler reads and writes it directly, on the one event
// thread. What the panel keeps about its line beside it (a pending open, a reconnection,
// the repeat's pacing) is the line's status, in context/.
struct PanelState {
    std::uint8_t repeatCode = 0;    // row of the repeat table that Timer1 resends; 0 = none
    std::uint8_t awaitingReply = 0; // 1 from a transmission until a reply or the window's end
    std::uint8_t adjustTarget = 0;  // 0..3, decides the cursor arrows' traffic timers
    std::string commandText;        // the frame composed last
    std::string receiveBuffer;      // text received since last emptied (capped, see traffic/)
    std::string portSettings;       // "19200,N,8,1" or "9600,N,8,1"
    std::string addressPrefix;      // "", "AFFF", "A001".."A004"

    bool operator==(const PanelState&) const = default;
};

} // namespace vk9
