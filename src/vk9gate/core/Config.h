#pragma once

#include <array>
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
    std::string hostAddress() const; // the host as a numeric address ("localhost": 127.0.0.1)
};
std::optional<ListenAddress> parseListenAddress(const std::string& text);
// Whether a text is an address with an optional prefix length: "192.0.2.0/24", "::1".
bool isSubnet(const std::string& text);

// A projector's PJLink listener (PJLink Class 1, TCP port 4352 by default).
struct PjLinkConfig {
    ListenAddress listen{"127.0.0.1", 4352};
    std::string passwordFile;                                  // empty: no password
    std::string password;                                      // as read from it
    std::array<std::string, 4> inputs{"11", "12", "31", "32"}; // of MODE SET 1 to 4
    int maxConnections = 8;
    bool insecureNoPassword = false; // beyond loopback without a password, knowingly
    std::string manufacturer = "vk9gate";
    std::string product;
    std::string info; // empty: the temperatures
};

struct ProjectorConfig {
    std::string address; // "" for one projector without an address, else "001" to "004"
    std::string name;
    std::optional<PjLinkConfig> pjlink;
    int line = 0; // in the file, for messages
    std::string prefix() const { return address.empty() ? "" : "A" + address; }
    std::string title() const; // "projector 001 (Hall left)"
};

// The building's MQTT broker, where the gate publishes its projectors for Home Assistant.
struct MqttConfig {
    std::string host = "127.0.0.1";
    int port = 1883;
    bool tls = false;     // mqtts://, or a CA file
    std::string clientId; // unique per gate; by default "vk9gate-HOST-FILE"
    std::string gate;     // this gate, as its list of projectors names it: "HOST:FILE"
    std::string baseTopic = "vk9";
    std::string discoveryPrefix = "homeassistant";
    std::chrono::seconds poll{30};
    std::string user;
    std::string passwordFile;
    std::string password; // as read from it
    std::string caFile;   // TLS checked against it; else against the system's CAs
};

// "mqtt://HOST:PORT", "mqtts://HOST", "HOST:PORT", "[::1]:1883", "HOST": the host, the port
// (1883, or 8883 with TLS) and whether it is TLS; nothing for anything else.
struct BrokerAddress {
    std::string host;
    int port = 1883;
    bool tls = false;
};
std::optional<BrokerAddress> parseBrokerAddress(const std::string& text);

// The touch panel for phones and browsers, served over HTTP (and WebSocket) by the gate.
struct WebConfig {
    ListenAddress listen{"127.0.0.1", 8080};
    std::string passwordFile; // empty: no password (loopback only, or knowingly)
    std::string password;     // as read from it
    std::string certFile;     // TLS: both, or neither
    std::string keyFile;
    std::string certificate; // PEM, as read
    std::string key;         // PEM, as read
    int maxClients = 32;
    bool insecureNoPassword = false; // beyond loopback without a password, knowingly
    bool tls() const { return !certFile.empty(); }
};

// What the gate runs on: one line, where its clients connect, and the projectors on it.
struct GateConfig {
    std::string file; // where it came from; empty: the command line
    std::string line; // a device, tcp://HOST:PORT or rfc2217://HOST:PORT
    int speed = 19200;
    ListenAddress listen{"127.0.0.1", 4001};
    int maxClients = 16;
    std::vector<std::string> allow;             // beyond loopback, who may connect ("192.0.2.0/24")
    bool insecureOpen = false;                  // or anyone, knowingly
    std::chrono::milliseconds maxWait{3000};    // a frame waits no longer for the line
    std::chrono::milliseconds lateWindow{2000}; // after an unanswered frame
    std::chrono::seconds probe{10};             // a projector that does not answer is tried
    std::string trafficLog;                     // empty: none
    std::vector<ProjectorConfig> projectors;
    std::optional<MqttConfig> mqtt;
    std::optional<WebConfig> web;
    std::optional<ListenAddress> metrics; // Prometheus' /metrics apart from the web panel
};

// The configuration in a TOML file, or its errors (those between keys once every key is
// good), each naming the file, the line and the key: "/etc/vk9gate/hall.toml:7: line.speed:
// 19200 or 9600".
struct ReadConfig {
    std::optional<GateConfig> config;
    std::vector<std::string> errors;
};
ReadConfig readGateConfig(const std::string& path);
// The rules every configuration keeps, from a file or the command line; the errors.
std::vector<std::string> checkGateConfig(const GateConfig& config);

// A password file (PJLink's, the broker's): its first line, or why it cannot be used
// (missing, readable by others, not a password of at most `longest` characters).
struct Password {
    std::string text;
    std::string error;
};
Password readPasswordFile(const std::string& path, std::size_t longest = 32);
// A secret's whole file (a password, a private key), found as readPasswordFile finds it:
// a full path, or a credential's name; refused when others may read it.
Password readSecretFile(const std::string& path, std::size_t longest);

// A regular file of at most `longest` bytes, opened once and waiting on no FIFO, or why not
// ("PATH: a folder, not a file"); a symbolic link followed only when `followLink`.
struct FileText {
    std::string text;
    std::string error;
    unsigned mode = 0; // as opened
    bool missing = false;
    bool denied = false;
};
FileText readRegularFile(const std::string& path, std::size_t longest, bool followLink);

} // namespace vk9::gate
