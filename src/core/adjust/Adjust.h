#pragma once

#include "context/Context.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vk9 {

using std::chrono::milliseconds;
using namespace std::chrono_literals;

// Selectors: send their code, then tune the repeat period and the cursor arrows' target.
struct SelectorRow {
    Control id;
    std::string_view code;
    milliseconds repeat; // Timer1's interval from now on
    std::uint8_t target; // adjustTarget
};

inline constexpr std::array kSelectors{
    SelectorRow{Control::Command10, "C80", 50ms, 2},  // ZOOM
    SelectorRow{Control::Command11, "C87", 100ms, 2}, // FOCUS
    SelectorRow{Control::Command41, "C88", 50ms, 2},  // Lens shift
    SelectorRow{Control::Command43, "C4F", 30ms, 2},  // CURSOL
    SelectorRow{Control::Command13, "C89", 200ms, 1}, // A-IMAGE
    SelectorRow{Control::Command23, "C1C", 200ms, 1}, // MENU ON
};

// Reply window (Timer2) and box clearing (Timer4) while a button is held.
struct TrafficTiming {
    milliseconds replyWindow;
    milliseconds clearDelay;
};

// Cursor arrows take their traffic timing from adjustTarget; target 0 leaves it unchanged.
inline constexpr std::array<std::optional<TrafficTiming>, 4> kArrowTimings{{
    std::nullopt, TrafficTiming{150ms, 190ms}, // A-IMAGE, MENU ON
    TrafficTiming{50ms, 75ms},                 // ZOOM, FOCUS, Lens shift, CURSOL
    TrafficTiming{5ms, 5ms},                   // after a D.Zoom release
}};

enum class HoldKind : std::uint8_t {
    Timed,       // sets the repeat period and the traffic timing itself
    CursorArrow, // keeps the repeat period, traffic timing by adjustTarget
};

// Hold-to-repeat buttons. repeatCode is the row the repeat timer resends while held.
struct HoldRow {
    Control id;
    std::uint8_t repeatCode;
    std::string_view code;
    HoldKind kind;
    milliseconds repeat = 0ms; // Timed only
    TrafficTiming timing{};    // Timed only
    bool digitalZoom = false;  // its release sets a 5 ms repeat and target 3
};

inline constexpr TrafficTiming kSlowHold{200ms, 245ms};
inline constexpr TrafficTiming kFastHold{25ms, 25ms};

inline constexpr std::array kHoldButtons{
    HoldRow{Control::Command1, 1, "C09", HoldKind::Timed, 250ms, kSlowHold},         // VOL +
    HoldRow{Control::Command2, 2, "C0A", HoldKind::Timed, 250ms, kSlowHold},         // VOL -
    HoldRow{Control::Command5, 3, "C3C", HoldKind::CursorArrow},                     // cursor up
    HoldRow{Control::Command7, 4, "C3D", HoldKind::CursorArrow},                     // cursor down
    HoldRow{Control::Command9, 5, "C3B", HoldKind::CursorArrow},                     // cursor left
    HoldRow{Control::Command8, 6, "C3A", HoldKind::CursorArrow},                     // cursor right
    HoldRow{Control::Command15, 7, "C47", HoldKind::Timed, 50ms, kFastHold},         // Zoom +
    HoldRow{Control::Command35, 8, "C46", HoldKind::Timed, 50ms, kFastHold},         // Zoom -
    HoldRow{Control::Command36, 9, "C4B", HoldKind::Timed, 50ms, kFastHold},         // Focus +
    HoldRow{Control::Command37, 10, "C4A", HoldKind::Timed, 50ms, kFastHold},        // Focus -
    HoldRow{Control::Command6, 13, "C3F", HoldKind::Timed, 500ms, kSlowHold},        // SELECT
    HoldRow{Control::Command48, 17, "C30", HoldKind::Timed, 250ms, kSlowHold, true}, // D.Zoom +
    HoldRow{Control::Command49, 18, "C31", HoldKind::Timed, 250ms, kSlowHold, true}, // D.Zoom -
    HoldRow{Control::Command50, 19, "C8E", HoldKind::Timed, 250ms, kSlowHold},       // Keystone +
    HoldRow{Control::Command51, 20, "C8F", HoldKind::Timed, 250ms, kSlowHold},       // Keystone -
    HoldRow{Control::Command59, 21, "C5D", HoldKind::Timed, 50ms, kFastHold}, // LENS SHIFT up
    HoldRow{Control::Command62, 22, "C5E", HoldKind::Timed, 50ms, kFastHold}, // LENS SHIFT down
    HoldRow{Control::Command60, 23, "C5F", HoldKind::Timed, 50ms, kFastHold}, // LENS SHIFT left
    HoldRow{Control::Command61, 24, "C60", HoldKind::Timed, 50ms, kFastHold}, // LENS SHIFT right
};

inline constexpr auto kDigitalZoomRepeat = 5ms;
inline constexpr std::uint8_t kDigitalZoomTarget = 3;

void selectTarget(Context& ctx, const SelectorRow& row);
void pressHold(Context& ctx, const HoldRow& row);
void releaseHold(Context& ctx, const HoldRow& row);
// The button whose repeat runs, if any (found from repeatCode).
const HoldRow* heldButton(const PanelState& state);
void repeatTick(Context& ctx); // Timer1
// The held button's release, when its own release will never come (capture or port lost).
void releaseHeldButton(Context& ctx);

} // namespace vk9
