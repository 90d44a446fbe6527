#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vk9 {

// Every control of the window, named as the layout names it. The list is kept in one place
// so that the enum and the names (used as widget object names) cannot drift apart.
// clang-format off
#define VK9_CONTROLS(X) \
    X(Form1) \
    X(Frame1) X(Frame2) X(Frame3) X(Frame4) X(Frame5) X(Frame6) X(Frame7) X(Frame8) \
    X(Frame9) X(Frame10) X(Frame11) X(Frame12) X(Frame13) \
    X(Command1) X(Command2) X(Command3) X(Command4) X(Command5) X(Command6) X(Command7) X(Command8) \
    X(Command9) X(Command10) X(Command11) X(Command13) X(Command14) X(Command15) X(Command16) X(Command17) \
    X(Command18) X(Command19) X(Command20) X(Command21) X(Command22) X(Command23) X(Command24) X(Command25) \
    X(Command26) X(Command27) X(Command28) X(Command29) X(Command31) X(Command32) X(Command33) X(Command34) \
    X(Command35) X(Command36) X(Command37) X(Command41) X(Command43) X(Command44) X(Command45) X(Command46) \
    X(Command47) X(Command48) X(Command49) X(Command50) X(Command51) X(Command52) X(Command53) X(Command54) \
    X(Command55) X(Command56) X(Command57) X(Command58) X(Command59) X(Command60) X(Command61) X(Command62) \
    X(Label1) X(Label2) X(Label3) X(Label4) X(Label5) X(Label6) X(Label7) X(Label8) \
    X(Label9) X(Label10) X(Label11) X(Label12) X(Label13) X(Label14) X(Label17) X(Label18) \
    X(Label19) X(Label20) X(Label21) X(Label22) X(Label23) \
    X(Option1) X(Option2) X(Option3) X(Option4) X(Option5) X(Option6) X(Option7) X(Option8) \
    X(Option9) X(Option10) \
    X(Line1) X(Line2) X(Line3) X(Line4) X(Line5) X(Line6) X(Line7) X(Line8) \
    X(Line9) X(Line10) X(Line11) X(Line12) \
    X(Image1)
// clang-format on

#define VK9_ENUM_ENTRY(name) name,
enum class Control : std::uint8_t { VK9_CONTROLS(VK9_ENUM_ENTRY) };
#undef VK9_ENUM_ENTRY

#define VK9_NAME_ENTRY(name) std::string_view{#name},
inline constexpr std::array kControlNames{VK9_CONTROLS(VK9_NAME_ENTRY)};
#undef VK9_NAME_ENTRY

inline constexpr std::size_t kControlCount = kControlNames.size();

constexpr std::string_view controlName(Control c) {
    return kControlNames[static_cast<std::size_t>(c)];
}

// The boxes that handlers write to, by what they show.
inline constexpr Control kTxdBox = Control::Label11;
inline constexpr Control kRxdBox = Control::Label12;
inline constexpr Control kStatusBox = Control::Label22;
inline constexpr Control kSettingsFrame = Control::Frame8;
inline constexpr Control kDataButton = Control::Command34;

} // namespace vk9
