#pragma once

#include <string>
#include <string_view>

namespace vk9 {

// Printable ASCII: what every text of the projectors' line, PJLink and the configuration is
// made of.
constexpr bool isPrintable(char c) {
    return c >= 32 && c <= 126;
}
bool allPrintable(std::string_view text);

// Bytes with those that `plain` refuses written as `format` makes of their value ("<%02X>").
std::string escapedBytes(std::string_view bytes, bool (*plain)(char), const char* format);

// Bytes as a log or a trace shows them: printable ASCII as is, everything else (and "<")
// as <XX> in hex.
std::string shownBytes(std::string_view bytes);

} // namespace vk9
