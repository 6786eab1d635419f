// What the tributary form and the alarm bar share: a layout in dialog units and LEDs by id.
#pragma once

#include <QWidget>
#include <chrono>
#include <map>

#include "display/LedIcons.h"
#include "display/LedWidget.h"

namespace kestrel {

class DialogForm;

// A form built from a template: controls placed in dialog units and laid out again when the
// font changes, and LEDs found by their control id. Every LED sits in a 21 x 20 unit cell; a
// large lamp fills its sunken box, a small one is half the size.
class LedForm : public QWidget {
    Q_OBJECT
public:
    ~LedForm() override;

    // Shows `state` on the LED `controlId`; an id that is no LED of this form is ignored.
    void SetLed(int controlId, LedState state);
    // What an LED shows; Off for an id that is not an LED of this form.
    LedState Led(int controlId) const;
    // Rings the LED `controlId` for a moment; an id that is no LED of this form is ignored.
    void Highlight(int controlId,
                   std::chrono::milliseconds duration = std::chrono::milliseconds(1500));
    bool Highlighted(int controlId) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    // The form keeps a reference to the icons: they must outlive it and stay where they are,
    // as they do in the application object. `units`: the template's extent.
    LedForm(const LedIcons& icons, QSize units, QWidget* parent);

    LedWidget* AddLed(LedWidget::Kind kind, int controlId, const QString& name, QPoint unitsAt);
    DialogForm& Form() { return *form; }
    // Lays the controls out once they are all placed.
    void FinishLayout();
    void changeEvent(QEvent* event) override;

    const LedIcons& icons;

private:
    LedWidget* FindLed(int controlId) const;

    DialogForm* form;
    std::map<int, LedWidget*> leds;
};

}  // namespace kestrel
