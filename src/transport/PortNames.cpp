#include "transport/PortNames.h"

#include "transport/SerialSettings.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace vk9 {

namespace {

constexpr std::array<std::string_view, 2> kKeys{"com1", "com2"};

std::string at(const std::string& path, const toml::source_region& where) {
    return path + ":" + std::to_string(where.begin.line);
}

} // namespace

std::string portVariable(int number) {
    return "VK9RSC_COM" + std::to_string(number);
}

std::array<std::string, 2> linesFilePlaces(const char* xdgConfigHome, const char* home) {
    std::string user;
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') { // a relative one is invalid
        user = std::string(xdgConfigHome) + "/vk9rsc/lines.toml";
    } else if (home != nullptr && *home != '\0') {
        user = std::string(home) + "/.config/vk9rsc/lines.toml";
    }
    return {user, "/etc/vk9rsc/lines.toml"};
}

LinesFile readLinesFile(const std::string& path) {
    LinesFile file{path, {}, {}};
    std::array<std::string, 2> named;
    toml::table table;
    try {
        table = toml::parse_file(path);
    } catch (const toml::parse_error& e) {
        file.error = at(path, e.source()) + ": " + std::string(e.description());
        return file;
    }
    for (const auto& [key, value] : table) {
        const auto known = std::find(kKeys.begin(), kKeys.end(), key.str());
        if (known == kKeys.end()) {
            file.error = at(path, key.source()) + ": unknown key \"" + std::string(key.str()) +
                         "\"; the keys are com1 and com2";
            return file;
        }
        const auto* text = value.as_string();
        const std::string where = at(path, value.source()) + ": " + std::string(key.str());
        if (text == nullptr) {
            file.error = where + ": a line is a text in quotes, such as \"/dev/ttyUSB0\"";
            return file;
        }
        if (const ParsedAddress parsed = parseLineAddress(text->get()); !parsed.address) {
            file.error = where + ": " + parsed.error;
            return file;
        }
        named.at(static_cast<std::size_t>(known - kKeys.begin())) = text->get();
    }
    file.lines = named; // all of them, or none
    return file;
}

LinesFile findLinesFile() {
    for (const std::string& place :
         linesFilePlaces(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"))) {
        std::error_code ignored;
        if (place.empty() || !std::filesystem::exists(place, ignored)) {
            continue;
        }
        if (!std::filesystem::is_regular_file(place, ignored)) {
            return {place, {}, place + ": not a file"};
        }
        return readLinesFile(place);
    }
    return {};
}

NamedLine lineForPort(int number, std::string_view commandLine, const char* variable,
                      const LinesFile& file, bool windows) {
    if (!commandLine.empty()) {
        return {std::string(commandLine), "--com" + std::to_string(number)};
    }
    if (variable != nullptr && *variable != '\0') {
        return {variable, portVariable(number)};
    }
    const std::string& named = file.lines.at(static_cast<std::size_t>(number - 1));
    if (!named.empty()) {
        return {named, file.path};
    }
    return {windows ? "COM" + std::to_string(number) : "/dev/ttyS" + std::to_string(number - 1),
            {}};
}

} // namespace vk9
