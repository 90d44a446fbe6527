#pragma once

#include "QtDiagnostics.h"
#include "QtTimers.h"
#include "QtView.h"
#include "io/NumberedPort.h"
#include "panel/Panel.h"
#include "transport/PortNames.h"

#include <QApplication>
#include <QWidget>

#include <array>

namespace vk9::qt {

// Style, fonts and names the panel expects from the application; call once before Form1.
void prepareApplication(QApplication& app);

// What the command line tells the window: the devices named for ports 1 and 2 (empty: the
// variable, the lines file or the default), the lines file as read, and the traffic log's
// file (empty: none).
struct LaunchOptions {
    std::array<std::string, 2> devices;
    LinesFile linesFile;
    QString trafficLog;
};

// The panel's window: widgets built from the layout tables, events forwarded to Panel.
class Form1 final : public QWidget {
public:
    explicit Form1(const LaunchOptions& options = {}, QWidget* parent = nullptr);

    QWidget* control(Control id) const { return m_widgets[static_cast<std::size_t>(id)]; }
    const PanelState& state() const { return m_panel.state(); }
    NumberedPort& serialPort() { return m_port; }
    QtTimers& timers() { return m_timers; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void setTabOrder();
    void wireEvents();
    bool handleHoldButtonEvent(Control id, QEvent* event);

    std::array<QWidget*, kControlCount> m_widgets{};
    QtTimers m_timers;
    NumberedPort m_port;
    QtView m_view;
    QtDiagnostics m_diagnostics;
    Panel m_panel;
    bool m_shownOnce = false;
    bool m_closed = false;
};

} // namespace vk9::qt
