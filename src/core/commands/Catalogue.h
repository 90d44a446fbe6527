#pragma once

#include "context/Context.h"

#include <array>
#include <string_view>

namespace vk9 {

// Buttons that send one command per click and do nothing else. The name is the button's
// for scripts.
struct OneShotRow {
    Control id;
    std::string_view code;
    std::string_view name;
};

inline constexpr std::array kOneShots{
    OneShotRow{Control::Command17, "C00", "power-on"},        // POWER ON
    OneShotRow{Control::Command18, "C02", "power-off"},       // POWER OFF
    OneShotRow{Control::Command27, "C05", "mode-set-1"},      // MODE SET 1
    OneShotRow{Control::Command28, "C06", "mode-set-2"},      // MODE SET 2
    OneShotRow{Control::Command29, "C07", "mode-set-3"},      // MODE SET 3
    OneShotRow{Control::Command53, "C08", "mode-set-4"},      // MODE SET 4
    OneShotRow{Control::Command24, "C1D", "menu-off"},        // MENU OFF
    OneShotRow{Control::Command19, "C0B", "sound-mute-on"},   // SOUND MUTE ON
    OneShotRow{Control::Command20, "C0C", "sound-mute-off"},  // SOUND MUTE OFF
    OneShotRow{Control::Command21, "C0D", "no-show-on"},      // NO SHOW ON
    OneShotRow{Control::Command22, "C0E", "no-show-off"},     // NO SHOW OFF
    OneShotRow{Control::Command25, "C43", "freeze-on"},       // FREEZE ON
    OneShotRow{Control::Command26, "C44", "freeze-off"},      // FREEZE OFF
    OneShotRow{Control::Command31, "C0F", "av-size-regular"}, // AV Size SET Regular
    OneShotRow{Control::Command32, "C10", "av-size-wide"},    // AV Size SET Wide
    OneShotRow{Control::Command4, "C1F", "normal"},           // NORMAL
    OneShotRow{Control::Command14, "C8A", "p-timer"},         // P-TIMER
    OneShotRow{Control::Command3, "C1E", "display-clear"},    // the projector's, not our boxes
    OneShotRow{Control::Command56, "C70", "lamp-4"},          // 4 LAMP
    OneShotRow{Control::Command57, "C71", "lamp-1-4"},        // 1-4
    OneShotRow{Control::Command58, "C72", "lamp-2-3"},        // 2-3
    OneShotRow{Control::Command44, "CR0", "query-status"},    // STATUS: power state
    OneShotRow{Control::Command45, "CR1", "query-mode"},      // MODE: input
    OneShotRow{Control::Command46, "CR3", "query-l-time"},    // L-TIME: lamp hours
    OneShotRow{Control::Command47, "CR4", "query-setting"},   // SETTING: picture reversal
    OneShotRow{Control::Command54, "CR6", "query-temp"},      // TEMP: temperatures
    OneShotRow{Control::Command55, "CR7", "query-l-mode"},    // L-MODE: lamp mode
    OneShotRow{Control::Command52, "C01", "c01"},             // C01
};

// commandText holds the new frame afterwards, whether or not the write succeeded.
void sendOneShot(Context& ctx, const OneShotRow& row);

} // namespace vk9
