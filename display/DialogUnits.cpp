// Dialog-unit conversion with the metrics of a font.
#include "display/DialogUnits.h"

#include <QFontMetrics>
#include <cmath>

namespace kestrel {

namespace {

// MulDiv semantics: the exact product divided and rounded half away from zero.
int Scale(int value, int base, int divisor) {
    const long long product = static_cast<long long>(value) * base;
    const long long half = divisor / 2;
    return static_cast<int>(product >= 0 ? (product + half) / divisor
                                         : -((-product + half) / divisor));
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // The average over 52 letters, rounded to the nearest pixel, as the dialog manager does.
    baseX = (width / 26 + 1) / 2;
    baseY = metrics.height();
    if (baseX < 1)
        baseX = 1;
    if (baseY < 1)
        baseY = 1;
}

int DialogUnits::X(int units) const {
    return Scale(units, baseX, 4);
}

int DialogUnits::Y(int units) const {
    return Scale(units, baseY, 8);
}

QRect DialogUnits::Rect(int x, int y, int w, int h) const {
    return QRect(X(x), Y(y), X(w), Y(h));
}

}  // namespace kestrel
