// Places a form's controls from their dialog-unit rectangles and redoes it when the font changes.
#pragma once

#include <QRect>
#include <QWidget>
#include <functional>
#include <vector>

#include "display/DialogUnits.h"

namespace kestrel {

class DialogForm {
public:
    // size: the template's extent in dialog units.
    DialogForm(QWidget* owner, QSize size) : owner(owner), size(size) {}

    // Registers a control and places it at once.
    void Place(QWidget* control, QRect units);
    // Runs after every placement pass, for sizes derived from the units (the LED pictures).
    void OnLayout(std::function<void(const DialogUnits&)> hook) {
        hooks.push_back(std::move(hook));
    }
    // Places every control again with the owner's current font.
    void Relayout();
    // The template's extent in pixels.
    QSize PixelSize() const;
    DialogUnits Units() const { return DialogUnits(owner->font()); }

private:
    QWidget* owner;
    QSize size;
    std::vector<std::pair<QWidget*, QRect>> controls;
    std::vector<std::function<void(const DialogUnits&)>> hooks;
};

}  // namespace kestrel
