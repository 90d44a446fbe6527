#include "serial/LineSettings.h"

#include <charconv>
#include <vector>

namespace vk9 {

namespace {

std::vector<std::string_view> splitFields(std::string_view text) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (true) {
        const auto comma = text.find(',', start);
        fields.push_back(text.substr(start, comma - start));
        if (comma == std::string_view::npos) {
            return fields;
        }
        start = comma + 1;
    }
}

std::optional<int> number(std::string_view field) {
    int value = 0;
    const auto* end = field.data() + field.size();
    const auto [ptr, ec] = std::from_chars(field.data(), end, value);
    if (ec != std::errc{} || ptr != end || field.empty()) {
        return std::nullopt;
    }
    return value;
}

std::optional<Parity> parity(std::string_view field) {
    if (field.size() != 1) {
        return std::nullopt;
    }
    switch (field[0]) {
    case 'N':
    case 'n':
        return Parity::None;
    case 'E':
    case 'e':
        return Parity::Even;
    case 'O':
    case 'o':
        return Parity::Odd;
    case 'M':
    case 'm':
        return Parity::Mark;
    case 'S':
    case 's':
        return Parity::Space;
    default:
        return std::nullopt;
    }
}

std::optional<StopBits> stopBits(std::string_view field) {
    if (field == "1") {
        return StopBits::One;
    }
    if (field == "1.5") {
        return StopBits::OneAndHalf;
    }
    if (field == "2") {
        return StopBits::Two;
    }
    return std::nullopt;
}

} // namespace

std::optional<LineSettings> parseLineSettings(std::string_view text) {
    const auto fields = splitFields(text);
    if (fields.size() != 4) {
        return std::nullopt;
    }
    const auto baud = number(fields[0]);
    const auto par = parity(fields[1]);
    const auto data = number(fields[2]);
    const auto stop = stopBits(fields[3]);
    if (!baud || *baud <= 0 || !par || !data || *data < 5 || *data > 8 || !stop) {
        return std::nullopt;
    }
    return LineSettings{*baud, *par, *data, *stop};
}

std::string portVariable(int number) {
    return "VK9RSC_COM" + std::to_string(number);
}

std::string deviceForPort(int number, const char* configured, bool windows) {
    if (windows) {
        return "COM" + std::to_string(number);
    }
    if (configured != nullptr && *configured != '\0') {
        return configured;
    }
    return "/dev/ttyS" + std::to_string(number - 1);
}

} // namespace vk9
