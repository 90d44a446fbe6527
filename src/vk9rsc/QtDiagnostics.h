#pragma once

#include "io/TrafficLog.h"
#include "ports/Diagnostics.h"

#include <QString>

#include <memory>

namespace vk9::qt {

// Lines on standard error, and the traffic log when one is kept.
class QtDiagnostics final : public Diagnostics {
public:
    void keepLog(const QString& path) {
        m_log = std::make_unique<TrafficLog>(path, "vk9rsc", "the panel");
    }

    void log(std::string_view line) override;
    void frameSent(std::string_view shown) override;
    void replyShown(std::string_view shown, std::string_view status) override;

private:
    std::unique_ptr<TrafficLog> m_log;
};

} // namespace vk9::qt
