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

namespace {

bool clicks(int key) {
    return key == Qt::Key_Space || key == Qt::Key_Select || key == Qt::Key_Return ||
           key == Qt::Key_Enter;
}

} // namespace

// A held key repeats. X tells each repeat as a release and a press at the same moment, and
// does not always mark them as repeats: a press at the moment of the key's own release is
// one. The button acts on the press, never on a release, so it acts once per keystroke.
void CaptionButton::keyPressEvent(QKeyEvent* event) {
    if (!clicks(event->key())) {
        QPushButton::keyPressEvent(event);
        return;
    }
    const bool repeat = event->isAutoRepeat() ||
                        (event->key() == m_releasedKey && event->timestamp() == m_releasedAt);
    if (!repeat) {
        click();
    }
    event->accept();
}

void CaptionButton::keyReleaseEvent(QKeyEvent* event) {
    if (!clicks(event->key())) {
        QPushButton::keyReleaseEvent(event);
        return;
    }
    m_releasedKey = event->key();
    m_releasedAt = event->timestamp();
    event->accept();
}

} // namespace vk9::qt
