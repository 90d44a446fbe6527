#include "Log.h"

#include <QDateTime>

#include <cstdio>
#include <cstdlib>

namespace vk9::gate {

Log::Log(bool verbose) : m_verbose(verbose), m_journal(std::getenv("JOURNAL_STREAM") != nullptr) {}

void Log::say(Level level, std::string_view line) const {
    if (level == Debug && !m_verbose) {
        return;
    }
    if (m_journal) {
        std::fprintf(stderr, "<%d>%.*s\n", int(level), int(line.size()), line.data());
    } else {
        const QByteArray time = QDateTime::currentDateTime()
                                    .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))
                                    .toUtf8();
        std::fprintf(stderr, "%s vk9gate: %.*s\n", time.constData(), int(line.size()), line.data());
    }
    std::fflush(stderr);
}

} // namespace vk9::gate
