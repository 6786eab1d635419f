// Painting of the form group boxes: an etched frame with the caption on its top border.
#include "display/GroupBox.h"

#include <QStylePainter>
#include <algorithm>

namespace kestrel {

void GroupBox::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    const QFontMetrics metrics(font());
    const int half = metrics.height() / 2;

    // An etched line, dark with a light one beside it, as the classic dialog boxes drew it;
    // style group-box frames move themselves below the caption, so they cannot be used here.
    const QRect box = rect().adjusted(0, half, -1, -1);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(box.adjusted(0, 0, -1, -1));
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(box.adjusted(1, 1, 0, 0));

    if (title().isEmpty())
        return;
    // The caption starts one average character in and blanks the border line behind it.
    const int pad = std::max(2, metrics.averageCharWidth() / 2);
    QRect caption(metrics.averageCharWidth(), 0, metrics.horizontalAdvance(title()) + 2 * pad,
                  metrics.height());
    caption = caption.intersected(rect());
    painter.fillRect(caption, palette().brush(backgroundRole()));
    style()->drawItemText(&painter, caption, Qt::AlignCenter | Qt::TextShowMnemonic, palette(),
                          isEnabled(), title(), QPalette::WindowText);
}

}  // namespace kestrel
