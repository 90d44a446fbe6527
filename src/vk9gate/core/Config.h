#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace vk9::gate {

// A host and a port to listen on: "127.0.0.1:4001", "[::1]:4001", "0.0.0.0:4352".
struct ListenAddress {
    std::string host;
    int port = 0;
    bool loopback() const;
    std::string text() const;
};
std::optional<ListenAddress> parseListenAddress(const std::string& text);

struct ProjectorConfig {
    std::string address; // "" for one projector without an address, else "001" to "004"
    std::string name;
    std::string prefix() const { return address.empty() ? "" : "A" + address; }
};

// What the gate runs on: one line, where its clients connect, and the projectors on it.
struct GateConfig {
    std::string file; // where it came from; empty: the command line
    std::string line; // a device, tcp://HOST:PORT or rfc2217://HOST:PORT
    int speed = 19200;
    ListenAddress listen{"127.0.0.1", 4001};
    int maxClients = 16;
    std::chrono::milliseconds maxWait{3000};    // a frame waits no longer for the line
    std::chrono::milliseconds lateWindow{2000}; // after an unanswered frame
    std::string trafficLog;                     // empty: none
    std::vector<ProjectorConfig> projectors;
};

// The configuration in a TOML file, or every error in it, each naming the file, the line
// and the key: "/etc/vk9gate/hall.toml:7: line.speed: 19200 or 9600".
struct ReadConfig {
    std::optional<GateConfig> config;
    std::vector<std::string> errors;
};
ReadConfig readGateConfig(const std::string& path);
// The rules every configuration keeps, from a file or the command line; the errors.
std::vector<std::string> checkGateConfig(const GateConfig& config);

} // namespace vk9::gate
