#pragma once

#include <QPushButton>

namespace vk9::qt {

// A push button whose caption wraps inside the button when one line is too wide, as the
// designed buttons do ("データを表示しない" needs two lines), and shrinks only when even
// the wrapped caption would be clipped. Space, Return and Enter click it when it has the
// focus: once for each time the key goes down, however long it is held.
class CaptionButton final : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    int m_releasedKey = 0;
    quint64 m_releasedAt = 0; // the event's time, in the window system's milliseconds
};

} // namespace vk9::qt
