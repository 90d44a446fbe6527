#pragma once

#include "vk9gate/core/Arbiter.h"
#include "vk9gate/core/Projectors.h"

#include <prometheus/histogram.h>
#include <prometheus/registry.h>

#include <memory>
#include <string>
#include <vector>

namespace vk9::gate {

// What the gate is and knows, at a scrape.
struct GateSnapshot {
    bool lineUp = false;
    ArbiterCounts frames;
    std::size_t shareClients = 0, webPages = 0, pjlinkClients = 0;
    std::uint64_t pjlinkConnections = 0, pjlinkWrongPasswords = 0;
    std::optional<bool> mqttConnected; // none: no MQTT
    struct Projector {
        std::string address; // "001", or "" for the one without
        std::string name;
        const ProjectorState* state; // null: nothing known
    };
    std::vector<Projector> projectors;
    Time now{};             // the gate's time at the scrape, as the readings' are
    double unixSeconds = 0; // the same moment by the calendar
};

// The gate's metrics in Prometheus' text format, built with prometheus-cpp's registry and
// serializer. The reply times are kept as they come; the rest is read at each scrape. Labels
// come from the configuration only (addresses and names), never from the network.
class Metrics {
public:
    Metrics();
    void replied(double seconds); // a frame's reply, from its time on the line
    std::string scrape(const GateSnapshot& snapshot) const;

private:
    std::shared_ptr<prometheus::Registry> m_lasting;
    prometheus::Histogram* m_replies = nullptr;
};

} // namespace vk9::gate
