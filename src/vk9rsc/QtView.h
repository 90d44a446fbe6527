#pragma once

#include "ports/View.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <array>

namespace vk9::qt {

// The View on the widgets of Form1, found by control.
class QtView final : public View {
public:
    QtView(QWidget& window, const std::array<QWidget*, kControlCount>& widgets)
        : m_window(window), m_widgets(widgets) {}

    void setCaption(Control control, std::string_view text) override;
    std::string caption(Control control) const override;
    void setVisible(Control control, bool visible) override;
    void selectOption(Control option) override;
    void setWindowHeight(int twips) override;
    int windowHeight() const override { return m_outerHeight; }
    void moveWindow(double left, double top) override;
    ScreenSize screenSize() const override;
    void warn(std::string_view message) override;
    void withdrawWarning() override;
    void quit() override;

private:
    QWidget* widget(Control c) const { return m_widgets[static_cast<std::size_t>(c)]; }

    QWidget& m_window;
    const std::array<QWidget*, kControlCount>& m_widgets;
    int m_outerHeight = 0;           // twips, as last set
    QPointer<QMessageBox> m_warning; // the one warning box, while it is open
};

} // namespace vk9::qt
