// The shared part of the LED forms: placement, the lamp sizes and the LEDs by id.
#include "display/LedForm.h"

#include <QEvent>
#include <algorithm>

#include "display/DialogForm.h"

namespace kestrel {

namespace {

constexpr int kLedWidth = 21;
constexpr int kLedHeight = 20;

}  // namespace

LedForm::LedForm(const LedIcons& icons, QSize units, QWidget* parent)
    : QWidget(parent), icons(icons), form(new DialogForm(this, units)) {
    form->OnLayout([this](const DialogUnits& du) {
        const int cell = std::min(du.X(kLedWidth), du.Y(kLedHeight));
        for (const auto& [id, led] : leds) {
            const bool large = led->LedKind() == LedWidget::Kind::Large;
            led->SetIconSide(std::max(1, large ? cell - 2 * led->frameWidth() : cell / 2));
        }
    });
}

LedForm::~LedForm() {
    delete form;
}

LedWidget* LedForm::AddLed(LedWidget::Kind kind, int controlId, const QString& name,
                           QPoint unitsAt) {
    auto* led = new LedWidget(icons, kind, controlId, name, this);
    form->Place(led, QRect(unitsAt, QSize(kLedWidth, kLedHeight)));
    leds[controlId] = led;
    return led;
}

void LedForm::FinishLayout() {
    form->Relayout();
}

LedWidget* LedForm::FindLed(int controlId) const {
    const auto it = leds.find(controlId);
    return it == leds.end() ? nullptr : it->second;
}

void LedForm::SetLed(int controlId, LedState state) {
    if (LedWidget* led = FindLed(controlId)) {
        led->SetState(state);
    }
}

LedState LedForm::Led(int controlId) const {
    const LedWidget* led = FindLed(controlId);
    return led ? led->State() : LedState::Off;
}

void LedForm::Highlight(int controlId, std::chrono::milliseconds duration) {
    if (LedWidget* led = FindLed(controlId)) {
        led->Highlight(duration);
    }
}

bool LedForm::Highlighted(int controlId) const {
    const LedWidget* led = FindLed(controlId);
    return led && led->Highlighted();
}

QSize LedForm::sizeHint() const {
    return form->PixelSize();
}

QSize LedForm::minimumSizeHint() const {
    return form->PixelSize();
}

void LedForm::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        form->Relayout();
        updateGeometry();
    }
    QWidget::changeEvent(event);
}

}  // namespace kestrel
