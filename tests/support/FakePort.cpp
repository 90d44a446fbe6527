#include "FakePort.h"

#include <utility>

namespace vk9::test {

void FakePort::clearRecords() {
    m_written.clear();
    m_writes.clear();
    m_times.clear();
    m_calls.clear();
}

SerialResult FakePort::setPortNumber(int number) {
    m_calls.push_back("number " + std::to_string(number));
    m_number = number;
    return SerialResult::success();
}

SerialResult FakePort::setSettings(std::string_view settings) {
    m_calls.push_back("settings " + std::string(settings));
    m_settings = settings;
    return SerialResult::success();
}

SerialResult FakePort::open() {
    m_calls.emplace_back("open");
    if (const auto absent = m_absent.find(m_number); absent != m_absent.end()) {
        return SerialResult::failure(absent->second);
    }
    m_open = true;
    return SerialResult::success();
}

SerialResult FakePort::close() {
    m_calls.emplace_back("close");
    m_open = false;
    return SerialResult::success();
}

SerialResult FakePort::write(std::string_view bytes) {
    if (!m_open) {
        return SerialResult::failure("no serial port is open");
    }
    m_written += bytes;
    m_writes.emplace_back(bytes);
    m_times.push_back(m_now ? m_now() : std::chrono::milliseconds{0});
    if (m_queueWrites) {
        m_pending += bytes.size();
    }
    return SerialResult::success();
}

std::string FakePort::readAll() {
    return std::exchange(m_input, {});
}

} // namespace vk9::test
