#pragma once

#include <array>
#include <string>
#include <string_view>

namespace vk9 {

// The lines of the panel's ports 1 and 2 ("COM1", "COM2"), named in this order of
// precedence: on the command line, in VK9RSC_COM1 or VK9RSC_COM2, in the user's lines file
// ($XDG_CONFIG_HOME/vk9rsc/lines.toml, else ~/.config/vk9rsc/lines.toml), else in the
// machine's (/etc/vk9rsc/lines.toml); when none names it, COM1/COM2 on Windows and
// /dev/ttyS0 and /dev/ttyS1 elsewhere. The panel only reads the file: it is the user's.
//
//   com1 = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"
//   com2 = "rfc2217://hall-server:7001"

std::string portVariable(int number); // "VK9RSC_COM1"

// A lines file as read: the lines it names (empty: none), or one message naming the file,
// the line and the key when it cannot be used. A file with an error names no line at all.
struct LinesFile {
    std::string path; // empty: there is no lines file
    std::array<std::string, 2> lines;
    std::string error;
};

// Where lines files are looked for, the user's first; the first that exists is read.
std::array<std::string, 2> linesFilePlaces(const char* xdgConfigHome, const char* home);
LinesFile readLinesFile(const std::string& path);
LinesFile findLinesFile(); // from the environment and the two places

// A port's line and where it was named: "--com1", "VK9RSC_COM1", a lines file's path, or
// empty for the default.
struct NamedLine {
    std::string device;
    std::string origin;
};

NamedLine lineForPort(int number, std::string_view commandLine, const char* variable,
                      const LinesFile& file, bool windows);

} // namespace vk9
