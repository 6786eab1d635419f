// Placement of a form's controls from dialog units.
#include "display/DialogForm.h"

namespace kestrel {

void DialogForm::Place(QWidget* control, QRect units) {
    controls.emplace_back(control, units);
    const DialogUnits du = Units();
    control->setGeometry(du.Rect(units.x(), units.y(), units.width(), units.height()));
}

void DialogForm::Relayout() {
    const DialogUnits du = Units();
    for (const auto& [control, units] : controls) {
        control->setGeometry(du.Rect(units.x(), units.y(), units.width(), units.height()));
    }
    for (const auto& hook : hooks)
        hook(du);
}

QSize DialogForm::PixelSize() const {
    const DialogUnits du = Units();
    return QSize(du.X(size.width()), du.Y(size.height()));
}

}  // namespace kestrel
