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
// The name is the button's for scripts.
struct SelectorRow {
    Control id;
    std::string_view code;
    milliseconds repeat; // Timer1's interval from now on
    std::uint8_t target; // adjustTarget
    std::string_view name;
};

inline constexpr std::array kSelectors{
    SelectorRow{Control::Command10, "C80", 50ms, 2, "zoom-select"},       // ZOOM
    SelectorRow{Control::Command11, "C87", 100ms, 2, "focus-select"},     // FOCUS
    SelectorRow{Control::Command41, "C88", 50ms, 2, "lens-shift-select"}, // Lens shift
    SelectorRow{Control::Command43, "C4F", 30ms, 2, "cursol-select"},     // CURSOL
    SelectorRow{Control::Command13, "C89", 200ms, 1, "a-image-select"},   // A-IMAGE
    SelectorRow{Control::Command23, "C1C", 200ms, 1, "menu-on"},          // MENU ON
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

// Hold-to-repeat buttons. repeatCode is the row the repeat timer resends while held; the
// name is the button's for scripts.
struct HoldRow {
    Control id;
    std::uint8_t repeatCode;
    std::string_view code;
    std::string_view name;
    HoldKind kind;
    milliseconds repeat = 0ms; // Timed only
    TrafficTiming timing{};    // Timed only
    bool digitalZoom = false;  // its release sets a 5 ms repeat and target 3
};

inline constexpr TrafficTiming kSlowHold{200ms, 245ms};
inline constexpr TrafficTiming kFastHold{25ms, 25ms};

// clang-format off
inline constexpr std::array kHoldButtons{
    HoldRow{Control::Command1, 1, "C09", "vol-plus", HoldKind::Timed, 250ms, kSlowHold},
    HoldRow{Control::Command2, 2, "C0A", "vol-minus", HoldKind::Timed, 250ms, kSlowHold},
    HoldRow{Control::Command5, 3, "C3C", "cursor-up", HoldKind::CursorArrow},
    HoldRow{Control::Command7, 4, "C3D", "cursor-down", HoldKind::CursorArrow},
    HoldRow{Control::Command9, 5, "C3B", "cursor-left", HoldKind::CursorArrow},
    HoldRow{Control::Command8, 6, "C3A", "cursor-right", HoldKind::CursorArrow},
    HoldRow{Control::Command15, 7, "C47", "zoom-plus", HoldKind::Timed, 50ms, kFastHold},
    HoldRow{Control::Command35, 8, "C46", "zoom-minus", HoldKind::Timed, 50ms, kFastHold},
    HoldRow{Control::Command36, 9, "C4B", "focus-plus", HoldKind::Timed, 50ms, kFastHold},
    HoldRow{Control::Command37, 10, "C4A", "focus-minus", HoldKind::Timed, 50ms, kFastHold},
    HoldRow{Control::Command6, 13, "C3F", "cursor-select", HoldKind::Timed, 500ms, kSlowHold},
    HoldRow{Control::Command48, 17, "C30", "d-zoom-plus", HoldKind::Timed, 250ms, kSlowHold, true},
    HoldRow{Control::Command49, 18, "C31", "d-zoom-minus", HoldKind::Timed, 250ms, kSlowHold, true},
    HoldRow{Control::Command50, 19, "C8E", "keystone-plus", HoldKind::Timed, 250ms, kSlowHold},
    HoldRow{Control::Command51, 20, "C8F", "keystone-minus", HoldKind::Timed, 250ms, kSlowHold},
    HoldRow{Control::Command59, 21, "C5D", "lens-shift-up", HoldKind::Timed, 50ms, kFastHold},
    HoldRow{Control::Command62, 22, "C5E", "lens-shift-down", HoldKind::Timed, 50ms, kFastHold},
    HoldRow{Control::Command60, 23, "C5F", "lens-shift-left", HoldKind::Timed, 50ms, kFastHold},
    HoldRow{Control::Command61, 24, "C60", "lens-shift-right", HoldKind::Timed, 50ms, kFastHold},
};
// clang-format on

inline constexpr auto kDigitalZoomRepeat = 5ms;
inline constexpr std::uint8_t kDigitalZoomTarget = 3;

void selectTarget(Context& ctx, const SelectorRow& row);
// One hold at a time: a press of the held button starts nothing new, and a release with
// nothing held does nothing.
void pressHold(Context& ctx, const HoldRow& row);
void releaseHold(Context& ctx, const HoldRow& row);
// The button whose repeat runs, if any (found from repeatCode).
const HoldRow* heldButton(const PanelState& state);
void repeatTick(Context& ctx); // Timer1
// The held button's release, when its own release will never come (capture or port lost).
void releaseHeldButton(Context& ctx);

} // namespace vk9
