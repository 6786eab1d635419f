// Conversion of dialog-template units into pixels with the metrics of a form's font.
#pragma once

#include <QFont>
#include <QRect>

namespace kestrel {

// Does what the Windows dialog manager does: the horizontal base unit is the average width of
// the 52 Latin letters, rounded, and the vertical one the character height; a dialog unit is a
// quarter of the first and an eighth of the second. Every coordinate and extent of a template
// is scaled on its own and rounded to the nearest pixel.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    QRect Rect(int x, int y, int w, int h) const;
    int X(int units) const;
    int Y(int units) const;

    int BaseX() const { return baseX; }
    int BaseY() const { return baseY; }

private:
    int baseX;
    int baseY;
};

}  // namespace kestrel
