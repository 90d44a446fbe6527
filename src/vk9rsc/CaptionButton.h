#pragma once

#include <QPushButton>

namespace vk9::qt {

// A push button whose caption wraps inside the button when one line is too wide, as the
// designed buttons do ("データを表示しない" needs two lines), and shrinks only when even
// the wrapped caption would be clipped. Return and Enter click it when it has the focus, as
// Space does.
class CaptionButton final : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace vk9::qt
