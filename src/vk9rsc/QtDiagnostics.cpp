#include "QtDiagnostics.h"

#include <iostream>

namespace vk9::qt {

void QtDiagnostics::log(std::string_view line) {
    std::cerr << "vk9rsc: " << line << std::endl;
}

void QtDiagnostics::frameSent(std::string_view shown) {
    if (m_log) {
        m_log->record(true, shown, {});
    }
}

void QtDiagnostics::replyShown(std::string_view shown, std::string_view status) {
    if (m_log) {
        m_log->record(false, shown, status);
    }
}

} // namespace vk9::qt
