#pragma once

#include "ports/SerialPort.h"

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vk9::test {

// A serial port in memory: records every call and every write as bytes, delivers replies
// in whatever pieces a test hands it, and can play an absent port or a slow line.
class FakePort final : public SerialPort {
public:
    // Ports that fail to open, with the message they give.
    void makeAbsent(int number, std::string message) { m_absent[number] = std::move(message); }
    void makePresent(int number) { m_absent.erase(number); }
    // Text waiting to be read; the test then raises the receive event.
    void deliver(const std::string& bytes) { m_input += bytes; }
    // Bytes still queued for the line; a test drains it by hand.
    void setQueueWrites(bool queue) { m_queueWrites = queue; }
    void drain() { m_pending = 0; }

    // Stamps each write with the time this returns.
    void setClock(std::function<std::chrono::milliseconds()> now) { m_now = std::move(now); }
    const std::vector<std::chrono::milliseconds>& writeTimes() const { return m_times; }

    const std::string& written() const { return m_written; }
    const std::vector<std::string>& writes() const { return m_writes; }
    const std::vector<std::string>& calls() const { return m_calls; }
    const std::string& settings() const { return m_settings; }
    void clearRecords();

    SerialResult setPortNumber(int number) override;
    int portNumber() const override { return m_number; }
    SerialResult setSettings(std::string_view settings) override;
    bool isOpen() const override { return m_open; }
    SerialResult open() override;
    SerialResult close() override;
    SerialResult write(std::string_view bytes) override;
    std::string readAll() override;
    std::size_t pendingOutput() const override { return m_pending; }

private:
    std::map<int, std::string> m_absent;
    std::string m_input;
    std::string m_written;
    std::vector<std::string> m_writes;
    std::vector<std::chrono::milliseconds> m_times;
    std::function<std::chrono::milliseconds()> m_now;
    std::vector<std::string> m_calls;
    std::string m_settings;
    std::size_t m_pending = 0;
    bool m_queueWrites = false;
    bool m_open = false;
    int m_number = 1;
};

} // namespace vk9::test
