#include "transport/SerialSettings.h"

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

std::optional<SerialSettings> parseSerialSettings(std::string_view text) {
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
    return SerialSettings{*baud, *par, *data, *stop};
}

ParsedAddress parseLineAddress(std::string_view text) {
    const auto fail = [&](const std::string& why) {
        return ParsedAddress{std::nullopt, "\"" + std::string(text) + "\": " + why};
    };
    if (text.empty()) {
        return fail("no device named");
    }
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 32 || c == 127) {
            return fail("a device name has no control characters");
        }
    }
    const auto scheme = text.find("://");
    if (scheme == std::string_view::npos) {
        return {LineAddress{LineAddress::Kind::Device, std::string(text), {}, 0}, {}};
    }
    LineAddress address;
    const std::string_view kind = text.substr(0, scheme);
    if (kind == "tcp") {
        address.kind = LineAddress::Kind::Tcp;
    } else if (kind == "rfc2217") {
        address.kind = LineAddress::Kind::Rfc2217;
    } else if (kind == "gate") {
        address.kind = LineAddress::Kind::Gate;
    } else {
        return fail("a network line is tcp://HOST:PORT, rfc2217://HOST:PORT or gate://HOST:PORT");
    }
    const std::string_view rest = text.substr(scheme + 3);
    const auto colon = rest.rfind(':');
    std::string_view host = colon == std::string_view::npos ? rest : rest.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2); // [::1]
    }
    const int port =
        colon == std::string_view::npos ? 0 : number(rest.substr(colon + 1)).value_or(0);
    if (host.empty() || host.find_first_of("/[]") != std::string_view::npos || port < 1 ||
        port > 65535) {
        return fail("a network line is " + std::string(kind) +
                    "://HOST:PORT, PORT from 1 to 65535");
    }
    address.path = std::string(rest);
    address.host = std::string(host);
    address.port = port;
    return {address, {}};
}

} // namespace vk9
