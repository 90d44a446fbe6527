#pragma once

#include "ports/SerialPort.h"
#include "transport/GateTickets.h"
#include "transport/SerialSettings.h"

#include <QObject>

#include <functional>
#include <string>
#include <string_view>

namespace vk9::qt {

// What a line tells its owner.
struct ConnectionEvents {
    std::function<void()> received;                  // data waiting for readAll()
    std::function<void(const SerialResult&)> opened; // a pending open connected or failed
    std::function<void(const std::string&)> lost;    // the reason; the line is closed
    // Something the operator may want to know (show: in the STATUS box too, not only on
    // standard error).
    std::function<void(const std::string&, bool show)> note;
    // A line shared through vk9gate: what became of a frame (its text, and the gate's word).
    std::function<void(const std::string& frame, const tickets::Notice&)> fate;
};

// One connection to the projectors' line: a local device, or a serial line behind a
// network device server. Every kind keeps the line contract written on the core's
// SerialPort (ports/SerialPort.h). Handlers may close the connection, but must not destroy
// it.
class Connection : public QObject {
public:
    explicit Connection(const ConnectionEvents& events) : m_events(events) {}

    virtual SerialResult open(const SerialSettings& settings) = 0;
    void close();
    virtual bool isOpen() const = 0; // open, or still opening
    virtual SerialResult write(std::string_view bytes) = 0;
    std::string readAll() { return std::exchange(m_input, {}); }
    // Throws away whatever has arrived and not been read, down to the driver's buffer.
    virtual void discardInput() { m_input.clear(); }
    virtual SerialResult applySettings(const SerialSettings& settings) = 0;
    // Bytes written and still waiting in a queue that this line can see.
    virtual std::size_t pendingOutput() const = 0;
    // The far end has asked us to hold our data for now.
    virtual bool suspended() const { return false; }
    // A loss is on its way: the line takes no more data.
    bool goingAway() const { return m_lossTold; }
    // The speed the far serial line runs at, as far as this line knows it.
    virtual int speed() const = 0;
    // A loss that the operator can mend by waiting: the line may come back by itself.
    virtual bool comesBack() const { return false; }

protected:
    // Closes the transport; tells nothing. Every kind's destructor calls it first.
    virtual void shut() = 0;
    // For open(): the outcome will come later.
    SerialResult pending();
    void tellOpened(const SerialResult& result);
    void tellLost(const std::string& reason);
    void take(std::string_view data);
    void note(const std::string& text, bool show) const;
    void fate(const std::string& frame, const tickets::Notice& notice) const;
    bool opening() const { return m_opening && !m_outcomeQueued; } // no outcome told yet

private:
    const ConnectionEvents& m_events;
    unsigned m_session = 0; // every close begins a new one: what is told late is dropped
    bool m_opening = false; // a pending open's outcome is still to be delivered
    bool m_outcomeQueued = false;
    bool m_lossTold = false;
    std::string m_input;
};

} // namespace vk9::qt
