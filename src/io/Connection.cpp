#include "io/Connection.h"

#include <QMetaObject>

namespace vk9::qt {

namespace {
template <class Handler, class... Args> void call(const Handler& handler, const Args&... args) {
    if (handler) {
        handler(args...);
    }
}
} // namespace

void Connection::close() {
    ++m_session;
    m_opening = false;
    m_outcomeQueued = false;
    m_lossTold = false;
    m_input.clear();
    shut();
}

SerialResult Connection::pending() {
    m_opening = true;
    return SerialResult::connecting();
}

// Outcomes and losses go through the event loop: a transport may report them inside the
// very call that started them (a connect() that the kernel refuses at once), and a caller
// must have its answer before it hears the outcome. Queued calls keep their order, so a
// loss told after a successful outcome arrives after it.
void Connection::tellOpened(const SerialResult& result) {
    if (!m_opening || m_outcomeQueued) {
        return;
    }
    m_outcomeQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this, session = m_session, result] {
            if (session != m_session) {
                return; // closed in the meantime
            }
            m_opening = false;
            m_outcomeQueued = false;
            if (!result.ok) {
                close();
            }
            call(m_events.opened, result);
            if (result.ok && session == m_session && !m_input.empty()) {
                call(m_events.received); // what came with the greeting
            }
        },
        Qt::QueuedConnection);
}

void Connection::tellLost(const std::string& reason) {
    if (opening()) { // never open: the open has failed
        tellOpened(SerialResult::failure(reason));
        return;
    }
    if (m_lossTold) {
        return;
    }
    m_lossTold = true;
    QMetaObject::invokeMethod(
        this,
        [this, session = m_session, reason] {
            if (session == m_session) {
                close();
                call(m_events.lost, reason);
            }
        },
        Qt::QueuedConnection);
}

void Connection::take(std::string_view data) {
    m_input += data;
    if (!m_opening && !m_lossTold) {
        call(m_events.received);
    }
}

void Connection::note(const std::string& text, bool show) const {
    call(m_events.note, text, show);
}

void Connection::fate(const std::string& frame, const tickets::Notice& notice) const {
    call(m_events.fate, frame, notice);
}

} // namespace vk9::qt
