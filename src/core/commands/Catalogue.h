#pragma once

#include "model/Context.h"

#include <array>
#include <string_view>

namespace vk9 {

// Buttons that send one command per click and do nothing else.
struct OneShotRow {
    Control id;
    std::string_view code;
};

inline constexpr std::array kOneShots{
    OneShotRow{Control::Command17, "C00"}, // POWER ON
    OneShotRow{Control::Command18, "C02"}, // POWER OFF
    OneShotRow{Control::Command27, "C05"}, // MODE SET 1
    OneShotRow{Control::Command28, "C06"}, // MODE SET 2
    OneShotRow{Control::Command29, "C07"}, // MODE SET 3
    OneShotRow{Control::Command53, "C08"}, // MODE SET 4
    OneShotRow{Control::Command24, "C1D"}, // MENU OFF
    OneShotRow{Control::Command19, "C0B"}, // SOUND MUTE ON
    OneShotRow{Control::Command20, "C0C"}, // SOUND MUTE OFF
    OneShotRow{Control::Command21, "C0D"}, // NO SHOW ON
    OneShotRow{Control::Command22, "C0E"}, // NO SHOW OFF
    OneShotRow{Control::Command25, "C43"}, // FREEZE ON
    OneShotRow{Control::Command26, "C44"}, // FREEZE OFF
    OneShotRow{Control::Command31, "C0F"}, // AV Size SET Regular
    OneShotRow{Control::Command32, "C10"}, // AV Size SET Wide
    OneShotRow{Control::Command4, "C1F"},  // NORMAL
    OneShotRow{Control::Command14, "C8A"}, // P-TIMER
    OneShotRow{Control::Command3, "C1E"},  // DISPLAY CLEAR (the projector's, not our boxes)
    OneShotRow{Control::Command56, "C70"}, // 4 LAMP
    OneShotRow{Control::Command57, "C71"}, // 1-4
    OneShotRow{Control::Command58, "C72"}, // 2-3
    OneShotRow{Control::Command44, "CR0"}, // STATUS: power state
    OneShotRow{Control::Command45, "CR1"}, // MODE: input
    OneShotRow{Control::Command46, "CR3"}, // L-TIME: lamp hours
    OneShotRow{Control::Command47, "CR4"}, // SETTING: picture reversal
    OneShotRow{Control::Command54, "CR6"}, // TEMP: temperatures
    OneShotRow{Control::Command55, "CR7"}, // L-MODE: lamp mode
    OneShotRow{Control::Command52, "C01"}, // C01
};

// commandText holds the new frame afterwards, whether or not the write succeeded.
void sendOneShot(Context& ctx, const OneShotRow& row);

} // namespace vk9
