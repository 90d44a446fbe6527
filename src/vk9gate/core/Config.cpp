#include "vk9gate/core/Config.h"

#include "transport/SerialSettings.h"

#include <toml++/toml.h>

#include <arpa/inet.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>

namespace vk9::gate {

namespace {

// Reads the keys of one table, each by its own reader; an unknown key is an error.
class TableReader {
public:
    TableReader(std::string path, std::vector<std::string>& errors)
        : m_path(std::move(path)), m_errors(errors) {}

    std::string at(const toml::source_region& where) const {
        return m_path + ":" + std::to_string(where.begin.line);
    }
    void error(const toml::node& node, const std::string& key, const std::string& why) {
        m_errors.push_back(at(node.source()) + ": " + key + ": " + why);
    }

    using Reader = std::function<void(const toml::node&, const std::string& key)>;
    void read(const toml::table& table, const std::string& name,
              const std::map<std::string, Reader>& readers) {
        for (const auto& [key, value] : table) {
            const std::string full =
                name.empty() ? std::string(key.str()) : name + "." + std::string(key.str());
            const auto reader = readers.find(std::string(key.str()));
            if (reader == readers.end()) {
                std::string known;
                for (const auto& [k, r] : readers) {
                    known += (known.empty() ? "" : ", ") + k;
                }
                m_errors.push_back(at(key.source()) + ": " + full + ": unknown key; " +
                                   (name.empty() ? "the tables" : "the keys of " + name) + " are " +
                                   known);
                continue;
            }
            reader->second(value, full);
        }
    }

    // Typed values; a value of another type is an error naming what was wanted.
    void text(const toml::node& node, const std::string& key, std::string& out) {
        if (const auto* v = node.as_string()) {
            out = v->get();
        } else {
            error(node, key, "a text in quotes");
        }
    }
    bool number(const toml::node& node, const std::string& key, long long least, long long most,
                long long& out) {
        const auto* v = node.as_integer();
        if (v == nullptr || v->get() < least || v->get() > most) {
            error(node, key,
                  "a whole number from " + std::to_string(least) + " to " + std::to_string(most));
            return false;
        }
        out = v->get();
        return true;
    }
    void milliseconds(const toml::node& node, const std::string& key, long long least,
                      long long most, std::chrono::milliseconds& out) {
        long long n = 0;
        if (number(node, key, least, most, n)) {
            out = std::chrono::milliseconds(n);
        }
    }

private:
    std::string m_path;
    std::vector<std::string>& m_errors;
};

} // namespace

std::string ProjectorConfig::title() const {
    return "projector " + (address.empty() ? std::string("without an address") : address) +
           (name.empty() ? "" : " (" + name + ")");
}

Password readPasswordFile(const std::string& path, std::size_t longest) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return {{}, path + ": " + std::strerror(errno)};
    }
    if ((info.st_mode & S_IRWXO) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(info.st_mode & 07777));
        return {{}, path + ": readable by others (mode " + mode + "): chmod o-rwx " + path};
    }
    std::ifstream file(path);
    std::string text;
    if (!file || !std::getline(file, text)) {
        return {{}, path + ": cannot be read"};
    }
    if (text.empty() || text.size() > longest ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= 32 && c < 127; })) {
        return {{},
                path + ": a password is 1 to " + std::to_string(longest) +
                    " printable characters, on the first line"};
    }
    return {text, {}};
}

bool ListenAddress::loopback() const {
    return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

std::string ListenAddress::text() const {
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
           std::to_string(port);
}

std::optional<ListenAddress> parseListenAddress(const std::string& text) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        return std::nullopt;
    }
    std::string host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    const std::string port = text.substr(colon + 1);
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const int number = std::stoi(port);
    unsigned char address[16];
    const bool ip = inet_pton(AF_INET, host.c_str(), address) == 1 ||
                    inet_pton(AF_INET6, host.c_str(), address) == 1 || host == "localhost";
    if (!ip || number < 1 || number > 65535) {
        return std::nullopt;
    }
    return ListenAddress{host, number};
}

std::vector<std::string> checkGateConfig(const GateConfig& config) {
    std::vector<std::string> errors;
    const std::string where = config.file.empty() ? "" : config.file + ": ";
    if (config.line.empty()) {
        errors.push_back(where + "line.port: no line named");
    } else if (const auto parsed = parseLineAddress(config.line); !parsed.address) {
        errors.push_back(where + "line.port: " + parsed.error);
    }
    const auto at = [&](const ProjectorConfig& p) {
        return config.file.empty()
                   ? std::string()
                   : config.file + (p.line > 0 ? ":" + std::to_string(p.line) : "") + ": ";
    };
    std::set<std::string> addresses;
    for (const ProjectorConfig& p : config.projectors) {
        if (!addresses.insert(p.address).second) {
            errors.push_back(at(p) + "projector.address: \"" + p.address + "\" is there twice");
        }
    }
    // Two listeners on one port clash when they share a host, or either listens on all.
    std::vector<ListenAddress> listening{config.listen};
    const auto clashes = [&](const ListenAddress& a) {
        const auto all = [](const std::string& h) { return h == "0.0.0.0" || h == "::"; };
        const auto host = [](const std::string& h) { return h == "localhost" ? "127.0.0.1" : h; };
        return std::any_of(listening.begin(), listening.end(), [&](const ListenAddress& b) {
            return a.port == b.port && (host(a.host) == host(b.host) || all(a.host) || all(b.host));
        });
    };
    for (const ProjectorConfig& p : config.projectors) {
        if (!p.pjlink) {
            continue;
        }
        if (clashes(p.pjlink->listen)) {
            errors.push_back(at(p) + p.title() + ": pjlink.listen " + p.pjlink->listen.text() +
                             " is taken by another listener");
        }
        listening.push_back(p.pjlink->listen);
        if (p.pjlink->password.empty() && !p.pjlink->listen.loopback() &&
            !p.pjlink->insecureNoPassword) {
            errors.push_back(at(p) + p.title() + ": pjlink.listen " + p.pjlink->listen.text() +
                             " is open beyond this computer without a password: set "
                             "pjlink.password_file, or pjlink.insecure_no_password = true");
        }
        for (const auto& name :
             {p.name, p.pjlink->manufacturer, p.pjlink->product, p.pjlink->info}) {
            if (!std::all_of(name.begin(), name.end(), [](char c) { return c >= 32 && c < 127; })) {
                errors.push_back(at(p) + p.title() + ": PJLink texts are printable ASCII");
            }
        }
    }
    if (addresses.count("") != 0 && addresses.size() > 1) {
        errors.push_back(where + "projector: address \"\" (one projector without an address) "
                                 "cannot share the line with addressed projectors");
    }
    return errors;
}

ReadConfig readGateConfig(const std::string& path) {
    ReadConfig read;
    toml::table table;
    if (!std::ifstream(path)) {
        read.errors.push_back(path + ": " + std::strerror(errno));
        return read;
    }
    try {
        table = toml::parse_file(path);
    } catch (const toml::parse_error& e) {
        read.errors.push_back(path + ":" + std::to_string(e.source().begin.line) + ": " +
                              std::string(e.description()));
        return read;
    }
    GateConfig config;
    config.file = path;
    TableReader r(path, read.errors);
    const auto lineTable = [&](const toml::node& node, const std::string& key) {
        const auto* t = node.as_table();
        if (t == nullptr) {
            r.error(node, key, "a table, [line]");
            return;
        }
        r.read(*t, key,
               {{"port", [&](const auto& n, const auto& k) { r.text(n, k, config.line); }},
                {"speed",
                 [&](const auto& n, const auto& k) {
                     const auto* v = n.as_integer();
                     if (v == nullptr || (v->get() != 19200 && v->get() != 9600)) {
                         r.error(n, k, "19200 or 9600");
                     } else {
                         config.speed = int(v->get());
                     }
                 }},
                {"listen",
                 [&](const auto& n, const auto& k) {
                     std::string text;
                     r.text(n, k, text);
                     if (const auto a = parseListenAddress(text)) {
                         config.listen = *a;
                     } else if (n.is_string()) {
                         r.error(n, k, "ADDRESS:PORT, such as 127.0.0.1:4001 or [::1]:4001");
                     }
                 }},
                {"max_clients",
                 [&](const auto& n, const auto& k) {
                     long long v = 0;
                     if (r.number(n, k, 1, 256, v)) {
                         config.maxClients = int(v);
                     }
                 }},
                {"max_wait_ms",
                 [&](const auto& n, const auto& k) {
                     r.milliseconds(n, k, 100, 60000, config.maxWait);
                 }},
                {"late_ms",
                 [&](const auto& n, const auto& k) {
                     r.milliseconds(n, k, 500, 60000, config.lateWindow);
                 }},
                {"traffic_log",
                 [&](const auto& n, const auto& k) { r.text(n, k, config.trafficLog); }}});
    };
    const auto readPjLink = [&](const toml::node& node, const std::string& key,
                                ProjectorConfig& p) {
        const auto* t = node.as_table();
        if (t == nullptr) {
            r.error(node, key, "a table, [projector.pjlink]");
            return;
        }
        PjLinkConfig pj;
        r.read(
            *t, key,
            {{"listen",
              [&](const auto& n, const auto& k) {
                  std::string text;
                  r.text(n, k, text);
                  unsigned char v6[16];
                  const bool bare = inet_pton(AF_INET6, text.c_str(), v6) == 1; // "::"
                  const auto a = parseListenAddress(
                      bare ? "[" + text + "]:4352"
                      : text.find(':') == std::string::npos || text.back() == ']' ? text + ":4352"
                                                                                  : text);
                  if (a) {
                      pj.listen = *a;
                  } else if (n.is_string()) {
                      r.error(n, k, "ADDRESS:PORT or ADDRESS, such as 0.0.0.0:4352");
                  }
              }},
             {"password_file",
              [&](const auto& n, const auto& k) {
                  r.text(n, k, pj.passwordFile);
                  if (!pj.passwordFile.empty()) {
                      const Password password = readPasswordFile(pj.passwordFile);
                      pj.password = password.text;
                      if (!password.error.empty()) {
                          r.error(n, k, password.error);
                      }
                  }
              }},
             {"inputs",
              [&](const auto& n, const auto& k) {
                  const auto* list = n.as_array();
                  bool good = list != nullptr && list->size() == 4;
                  for (std::size_t i = 0; good && i < 4; ++i) {
                      const auto* code = (*list)[i].as_string();
                      good = code != nullptr && code->get().size() == 2 && code->get()[0] >= '1' &&
                             code->get()[0] <= '5' && code->get()[1] >= '1' &&
                             code->get()[1] <= '9';
                      pj.inputs[i] = good ? code->get() : "";
                  }
                  if (!good) {
                      r.error(n, k, "four PJLink inputs, such as [\"11\", \"12\", \"31\", \"32\"]");
                  }
              }},
             {"max_connections",
              [&](const auto& n, const auto& k) {
                  long long v = 0;
                  if (r.number(n, k, 1, 64, v)) {
                      pj.maxConnections = int(v);
                  }
              }},
             {"insecure_no_password",
              [&](const auto& n, const auto& k) {
                  if (const auto* v = n.as_boolean()) {
                      pj.insecureNoPassword = v->get();
                  } else {
                      r.error(n, k, "true or false");
                  }
              }},
             {"manufacturer", [&](const auto& n, const auto& k) { r.text(n, k, pj.manufacturer); }},
             {"product", [&](const auto& n, const auto& k) { r.text(n, k, pj.product); }},
             {"info", [&](const auto& n, const auto& k) { r.text(n, k, pj.info); }}});
        p.pjlink = pj;
    };
    const auto projectorTables = [&](const toml::node& node, const std::string& key) {
        const auto* list = node.as_array();
        if (list == nullptr || !list->is_array_of_tables()) {
            r.error(node, key, "tables, each [[projector]]");
            return;
        }
        for (const toml::node& each : *list) {
            ProjectorConfig p;
            bool addressed = false;
            r.read(
                *each.as_table(), key,
                {{"address",
                  [&](const auto& n, const auto& k) {
                      r.text(n, k, p.address);
                      addressed = n.is_string();
                      static const std::set<std::string> kAddresses{"", "001", "002", "003", "004"};
                      if (addressed && kAddresses.count(p.address) == 0) {
                          r.error(
                              n, k,
                              "\"001\" to \"004\", or \"\" for one projector without an address");
                      }
                  }},
                 {"name", [&](const auto& n, const auto& k) { r.text(n, k, p.name); }},
                 {"pjlink", [&](const auto& n, const auto& k) { readPjLink(n, k, p); }}});
            p.line = int(each.source().begin.line);
            if (!addressed) {
                read.errors.push_back(r.at(each.source()) + ": " + key + ".address: missing");
            }
            config.projectors.push_back(p);
        }
    };
    const auto mqttTable = [&](const toml::node& node, const std::string& key) {
        const auto* t = node.as_table();
        if (t == nullptr) {
            r.error(node, key, "a table, [mqtt]");
            return;
        }
        MqttConfig m;
        bool named = false;
        const auto name = [&](std::string& out, const char* allowed) {
            return [&out, &r, allowed](const toml::node& n, const std::string& k) {
                r.text(n, k, out);
                if (n.is_string() &&
                    (out.empty() || out.find_first_not_of(allowed) != std::string::npos)) {
                    r.error(n, k,
                            std::string("letters, digits and ") +
                                (std::string(allowed).find('/') != std::string::npos ? "\"-_/\""
                                                                                     : "\"-_\""));
                }
            };
        };
        static const char* kIdChars =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_";
        static const char* kTopicChars =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_/";
        r.read(*t, key,
               {{"broker",
                 [&](const auto& n, const auto& k) {
                     std::string text;
                     r.text(n, k, text);
                     const auto colon = text.rfind(':');
                     const std::string host =
                         colon == std::string::npos ? text : text.substr(0, colon);
                     const std::string port =
                         colon == std::string::npos ? "1883" : text.substr(colon + 1);
                     const bool good = !host.empty() && !port.empty() && port.size() <= 5 &&
                                       port.find_first_not_of("0123456789") == std::string::npos &&
                                       std::stoi(port) >= 1 && std::stoi(port) <= 65535;
                     if (good) {
                         m.host = host;
                         m.port = std::stoi(port);
                     } else if (n.is_string()) {
                         r.error(n, k, "HOST:PORT or HOST, such as 127.0.0.1:1883");
                     }
                 }},
                {"client_id",
                 [&](const auto& n, const auto& k) {
                     name(m.clientId, kIdChars)(n, k);
                     named = true;
                 }},
                {"base_topic", name(m.baseTopic, kTopicChars)},
                {"discovery_prefix", name(m.discoveryPrefix, kTopicChars)},
                {"poll_seconds",
                 [&](const auto& n, const auto& k) {
                     long long v = 0;
                     if (r.number(n, k, 5, 3600, v)) {
                         m.poll = std::chrono::seconds(v);
                     }
                 }},
                {"user", [&](const auto& n, const auto& k) { r.text(n, k, m.user); }},
                {"password_file",
                 [&](const auto& n, const auto& k) {
                     r.text(n, k, m.passwordFile);
                     const Password password = readPasswordFile(m.passwordFile, 256);
                     m.password = password.text;
                     if (!password.error.empty()) {
                         r.error(n, k, password.error);
                     }
                 }},
                {"ca_file", [&](const auto& n, const auto& k) {
                     r.text(n, k, m.caFile);
                     if (!m.caFile.empty() && !std::ifstream(m.caFile)) {
                         r.error(n, k, m.caFile + ": " + std::strerror(errno));
                     }
                 }}});
        if (!named) {
            read.errors.push_back(r.at(node.source()) + ": mqtt.client_id: missing; each gate on "
                                                        "a broker needs one of its own");
        }
        config.mqtt = m;
    };
    r.read(table, "", {{"line", lineTable}, {"projector", projectorTables}, {"mqtt", mqttTable}});
    if (!table.contains("line")) {
        read.errors.push_back(path +
                              ": [line]: missing; it names the line: port = \"/dev/ttyUSB0\"");
    }
    if (read.errors.empty()) {
        for (std::string& e : checkGateConfig(config)) {
            read.errors.push_back(std::move(e));
        }
    }
    if (read.errors.empty()) {
        read.config = std::move(config);
    }
    return read;
}

} // namespace vk9::gate
