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

Tally::Tally(const Log& log, Line line) : m_log(log), m_line(std::move(line)) {
    m_minute.setInterval(std::chrono::minutes(1));
    QObject::connect(&m_minute, &QTimer::timeout, [this] {
        if (m_untold == 0) {
            m_minute.stop(); // a quiet minute: the next is told at once
            return;
        }
        m_log.say(Log::Warning, m_line(std::exchange(m_untold, 0), m_last));
    });
}

void Tally::add(const std::string& detail) {
    if (m_minute.isActive()) {
        ++m_untold;
        m_last = detail;
        return;
    }
    m_log.say(Log::Warning, m_line(1, detail));
    m_minute.start();
}

} // namespace vk9::gate
