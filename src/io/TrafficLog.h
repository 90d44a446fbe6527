#pragma once

#include <QFile>
#include <QTimer>

#include <string>
#include <string_view>

namespace vk9::qt {

// The traffic log: a line per frame sent and per piece received, appended to a file, with
// the local time to the millisecond. Writes are buffered and flushed once a second and at
// the end, so a repeat never waits for the disk. A log that cannot be written is reported
// once on standard error, and the program goes on without it. reopen() starts on the file
// again, as logrotate expects after it has moved it away.
class TrafficLog final : public QObject {
public:
    // `program` and `who` tell the failure: "vk9rsc: ... ; the panel goes on without it".
    TrafficLog(const QString& path, std::string program, std::string who,
               QObject* parent = nullptr);
    ~TrafficLog() override;
    TrafficLog(const TrafficLog&) = delete;
    TrafficLog& operator=(const TrafficLog&) = delete;

    void record(bool sent, std::string_view shown, std::string_view status);
    void reopen();

private:
    void open();
    void flush();
    void fail();

    QString m_path; // a QFile opened on a descriptor forgets its name
    QFile m_file;
    QTimer m_flush;
    std::string m_program;
    std::string m_who;
    bool m_failed = false;
    std::string m_error; // why the log could not be opened
};

} // namespace vk9::qt
