#pragma once

#include <string>
#include <string_view>

namespace vk9 {

// The rendered form of line traffic: a leading space, then for each byte "&" for ACK,
// "CR " and "LF " for the line ends, the character and a space for codes 32 to 122, and
// "? " for everything else. Reply decoding reads fields at fixed positions of this form.
std::string trafficText(std::string_view bytes);

// First n characters, and n characters from 1-based position p (empty past the end).
std::string_view leftOf(std::string_view text, std::size_t n);
std::string_view midOf(std::string_view text, std::size_t position, std::size_t n);

} // namespace vk9
