#pragma once

#include "context/Context.h"

#include <array>
#include <string>
#include <string_view>

namespace vk9 {

// Buttons that send one command per click and do nothing else. The group names the row
// for scripts, with the button's caption: "power" and "ON" make "power-on".
struct OneShotRow {
    Control id;
    std::string_view code;
    std::string_view group;
};

inline constexpr std::array kOneShots{
    OneShotRow{Control::Command17, "C00", "power"},      // POWER ON
    OneShotRow{Control::Command18, "C02", "power"},      // POWER OFF
    OneShotRow{Control::Command27, "C05", "mode-set"},   // MODE SET 1
    OneShotRow{Control::Command28, "C06", "mode-set"},   // MODE SET 2
    OneShotRow{Control::Command29, "C07", "mode-set"},   // MODE SET 3
    OneShotRow{Control::Command53, "C08", "mode-set"},   // MODE SET 4
    OneShotRow{Control::Command24, "C1D", "menu"},       // MENU OFF
    OneShotRow{Control::Command19, "C0B", "sound-mute"}, // SOUND MUTE ON
    OneShotRow{Control::Command20, "C0C", "sound-mute"}, // SOUND MUTE OFF
    OneShotRow{Control::Command21, "C0D", "no-show"},    // NO SHOW ON
    OneShotRow{Control::Command22, "C0E", "no-show"},    // NO SHOW OFF
    OneShotRow{Control::Command25, "C43", "freeze"},     // FREEZE ON
    OneShotRow{Control::Command26, "C44", "freeze"},     // FREEZE OFF
    OneShotRow{Control::Command31, "C0F", "av-size"},    // AV Size SET Regular
    OneShotRow{Control::Command32, "C10", "av-size"},    // AV Size SET Wide
    OneShotRow{Control::Command4, "C1F", ""},            // NORMAL
    OneShotRow{Control::Command14, "C8A", ""},           // P-TIMER
    OneShotRow{Control::Command3, "C1E", ""},      // DISPLAY CLEAR (the projector's, not our boxes)
    OneShotRow{Control::Command56, "C70", "lamp"}, // 4 LAMP
    OneShotRow{Control::Command57, "C71", "lamp"}, // 1-4
    OneShotRow{Control::Command58, "C72", "lamp"}, // 2-3
    OneShotRow{Control::Command44, "CR0", "query"}, // STATUS: power state
    OneShotRow{Control::Command45, "CR1", "query"}, // MODE: input
    OneShotRow{Control::Command46, "CR3", "query"}, // L-TIME: lamp hours
    OneShotRow{Control::Command47, "CR4", "query"}, // SETTING: picture reversal
    OneShotRow{Control::Command54, "CR6", "query"}, // TEMP: temperatures
    OneShotRow{Control::Command55, "CR7", "query"}, // L-MODE: lamp mode
    OneShotRow{Control::Command52, "C01", ""},      // C01
};

// commandText holds the new frame afterwards, whether or not the write succeeded.
void sendOneShot(Context& ctx, const OneShotRow& row);

// The command's name for scripts: its group, then the words of its button's caption that
// the group does not say already, in lower case, joined by "-" ("lamp-1-4", "query-l-time").
std::string commandName(const OneShotRow& row);

} // namespace vk9
