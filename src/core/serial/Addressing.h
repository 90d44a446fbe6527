#pragma once

#include "context/Context.h"

#include <array>
#include <string_view>

namespace vk9 {

struct AddressOptionRow {
    Control id;
    std::string_view prefix;
};

inline constexpr std::array kAddressOptions{
    AddressOptionRow{Control::Option3, ""},     // "SINGLE": the one projector, no address
    AddressOptionRow{Control::Option4, "AFFF"}, // "ALL"
    AddressOptionRow{Control::Option5, "A001"}, // "001"
    AddressOptionRow{Control::Option6, "A002"}, // "002"
    AddressOptionRow{Control::Option7, "A003"}, // "003"
    AddressOptionRow{Control::Option8, "A004"}, // "004"
};

// Sets the prefix of every later command; sends nothing, touches no port or timer.
inline void selectAddress(Context& ctx, const AddressOptionRow& row) {
    ctx.state.addressPrefix = row.prefix;
}

} // namespace vk9
