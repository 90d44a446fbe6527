#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vk9 {

// Outcome of a port operation: failures carry the serial component's own message. An open
// may also be pending (a network line connecting): see the contract below.
struct SerialResult {
    bool ok = true;
    std::string message;
    bool pending = false;
    bool busy = false; // another program holds the line: it may be free in a moment
    static SerialResult success() { return {}; }
    static SerialResult failure(std::string text) { return {false, std::move(text)}; }
    static SerialResult inUse(std::string text) { return {false, std::move(text), false, true}; }
    static SerialResult connecting() { return {true, {}, true}; }
};

// Kinds of port events handed to Panel::comm(). Only "received" matters to the panel.
enum class CommEvent : int { Received = 2 };

// Where the current port's line is, as the operator named it.
struct PortNaming {
    std::string device;
    std::string origin;   // "--com1", "VK9RSC_COM1", a lines file; empty: the default
    bool network = false; // a line behind a device server, which comes back by itself
    std::string problem;  // why the name names no line; empty when it does
};

// The serial-port component as the panel uses it. Text on the line is bytes.
//
// The line contract, kept by every implementation whatever the line is (a local device, a
// TCP or Telnet line behind a device server), and by every connection in the shell:
// - open() answers ok, failure or pending.
// - A pending open's outcome is told exactly once, later, from the event loop (here as
//   Panel::opened()), never inside open(), unless the port is closed first.
// - A line that goes away is told exactly once, later, from the event loop (here as
//   Panel::portLost()); the port is closed by then.
// - close() tells nothing, and nothing of a closed session is told after it.
class SerialPort {
public:
    virtual ~SerialPort() = default;
    virtual SerialResult setPortNumber(int number) = 0; // takes effect at the next open
    virtual int portNumber() const = 0;
    virtual SerialResult setSettings(std::string_view settings) = 0; // "19200,N,8,1", at once
    virtual bool isOpen() const = 0; // also while an open is pending
    virtual SerialResult open() = 0;
    virtual SerialResult close() = 0;
    virtual SerialResult write(std::string_view bytes) = 0; // queues the whole text at once
    virtual std::string readAll() = 0;
    // Bytes written and still waiting in the queues that the port can see (its own buffer,
    // the driver's, a socket's). Buffers beyond (a USB chip, a device server) it cannot see.
    virtual std::size_t pendingOutput() const = 0;
    // The line takes no data for now: the far end has asked to hold it (a device server's
    // flow control), or the line is going away and its loss is on the way.
    virtual bool suspended() const = 0;
    // Bits per second on the projectors' line: the speed chosen, or the one a device server
    // reports instead.
    virtual int lineSpeed() const = 0;
    virtual PortNaming naming() const = 0;
    // The serial ports this machine has, for the operator's information.
    virtual std::vector<std::string> portsOnMachine() const = 0;
};

} // namespace vk9
