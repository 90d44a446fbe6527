#pragma once

#include "context/Context.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace vk9 {

inline constexpr std::string_view kFastSettings = "19200,N,8,1";
inline constexpr std::string_view kSlowSettings = "9600,N,8,1";

struct PortOptionRow {
    Control id;
    int port;
    int otherPort; // where the number goes back to after a failure
};

inline constexpr std::array kPortOptions{
    PortOptionRow{Control::Option1, 1, 2}, // "COM1"
    PortOptionRow{Control::Option2, 2, 1}, // "COM2"
};

struct SpeedOptionRow {
    Control id;
    std::string_view settings;
};

inline constexpr std::array kSpeedOptions{
    SpeedOptionRow{Control::Option9, kFastSettings},  // "19200"
    SpeedOptionRow{Control::Option10, kSlowSettings}, // "9600"
};

// Start-up's port choice reopens the port only if it was open, and leaves a line that is
// still connecting to that port as it is. The operator's always opens the chosen port, so
// that a failed choice, a lost port or a start without port 1 can be mended from the panel
// without a restart.

void showSettingsFrame(Context& ctx); // "COM"
void hideSettingsFrame(Context& ctx); // Timer3
// A port choice: close, set the number, reopen. On a failure the number goes back to the
// other port and the last failure's message is returned; the settings frame stays.
std::optional<std::string> switchPort(Context& ctx, const PortOptionRow& row, OpenedBy by);
void choosePort(Context& ctx, const PortOptionRow& row); // the operator's, warns on failure
// A pending open has its outcome: the pending choice ends as a choice that opened at once
// would have.
void finishPortChoice(Context& ctx, const SerialResult& opened);
// Port 1 did not open at start-up: the operator is told, with the serial ports the machine
// has, once the window is on screen. A network line is tried again instead, as one lost.
void tellStartUpFailure(Context& ctx, const std::string& message, const PortNaming& naming);
void chooseSpeed(Context& ctx, const SpeedOptionRow& row);

} // namespace vk9
