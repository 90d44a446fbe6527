#pragma once

#include "context/Context.h"
#include "model/PanelState.h"

#include <optional>
#include <string_view>

namespace vk9 {

// The window's behaviour: owns the state record and the line's status, and routes every
// event to the handler of its subsystem. It holds no behaviour of its own beyond that.
class Panel {
public:
    Panel(Timers& timers, SerialPort& port, View& view, Diagnostics& diagnostics);

    void load();  // start-up, before the window is first shown
    void shown(); // the window is on screen
    void click(Control id);
    // Mouse down and up on a hold button, for any mouse button: the first button down and
    // the last one up. One hold at a time; a release with nothing held does nothing.
    void press(Control id);
    void release(Control id);
    void select(Control id); // an option button was selected
    void keyDown(int key, int shiftState);
    void tick(TimerId id);
    void comm(CommEvent kind);
    // A reply that the line says answers `frame` (a line shared through a gate).
    void replyTo(std::string_view frame, std::string_view reply);
    // The line went away; one that comes back by itself is reconnected.
    void portLost(std::string_view device, std::string_view reason, bool comesBack);
    void opened(const SerialResult& result); // a pending open has connected or given up
    // Something the line has to say; shown in the STATUS box too when `show`.
    void lineNote(std::string_view device, std::string_view text, bool show);
    // The press's release will never come: a hold button (given) lost the mouse, or the
    // window lost its activation (none given). Only the held button is released.
    void captureLost(std::optional<Control> id = std::nullopt);
    void close(); // the window's frame was closed: the same as "END"
    // Something the shell found that the operator must know (a lines file with an error):
    // in the warning box, with any start-up failure.
    void notice(std::string_view text);

    const PanelState& state() const { return m_state; }

private:
    PanelState m_state;
    PortStatus m_portStatus;
    Context m_ctx;
};

} // namespace vk9
