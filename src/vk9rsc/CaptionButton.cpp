#include "CaptionButton.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace vk9::qt {

namespace {
constexpr qreal kSmallestPoints = 6.0;
constexpr qreal kShrinkStep = 0.5;
} // namespace

void CaptionButton::paintEvent(QPaintEvent* /*event*/) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option); // face, bevel and focus frame

    QRect area = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    if (isDown()) {
        area.translate(style()->pixelMetric(QStyle::PM_ButtonShiftHorizontal, &option, this),
                       style()->pixelMetric(QStyle::PM_ButtonShiftVertical, &option, this));
    }
    QFont captionFont = font();
    int flags = Qt::AlignCenter;
    if (QFontMetrics(captionFont).horizontalAdvance(caption) > area.width()) {
        flags |= Qt::TextWrapAnywhere;
        while (captionFont.pointSizeF() > kSmallestPoints &&
               QFontMetrics(captionFont).boundingRect(area, flags, caption).height() >
                   area.height()) {
            captionFont.setPointSizeF(captionFont.pointSizeF() - kShrinkStep);
        }
    }
    painter.setFont(captionFont);
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.drawText(area, flags, caption);
}

void CaptionButton::keyPressEvent(QKeyEvent* event) {
    // A focused button outside a dialog ignores Return and Enter unless it is a default
    // button, and default buttons draw differently: click it here instead.
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !event->isAutoRepeat()) {
        click();
        return;
    }
    QPushButton::keyPressEvent(event);
}

} // namespace vk9::qt
