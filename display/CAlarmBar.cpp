// The alarm bar: layout of its LEDs and labels and the setters the refresh uses.
#include "display/CAlarmBar.h"

#include <QEvent>
#include <QLabel>
#include <algorithm>

#include "display/DialogForm.h"
#include "display/GroupBox.h"
#include "display/LedWidget.h"

namespace kestrel {

namespace {

constexpr int kBarWidth = 428;
constexpr int kBarHeight = 91;
constexpr int kLedWidth = 21;
constexpr int kLedHeight = 20;

struct BarLed {
    int id;
    int x;
    const char* name;
    const char* label;
    QRect labelRect;
};

// In refresh order, as kLedIds; all LEDs sit at y 24.
constexpr BarLed kBarLeds[] = {
    {1124, 58, "Local No Signal", "No Signal", {54, 49, 30, 20}},
    {1125, 87, "Local AIS", "AIS", {88, 49, 20, 11}},
    {1126, 116, "Local LOF", "LOF", {117, 49, 20, 11}},
    {1128, 145, "Local RAI", "RAI", {147, 49, 18, 11}},
    {1127, 259, "Remote No Signal", "No Signal", {255, 49, 30, 20}},
    {1129, 288, "Remote AIS", "AIS", {289, 49, 20, 11}},
    {1130, 317, "Remote LOF", "LOF", {318, 49, 20, 11}},
    {1131, 346, "Remote RAI", "RAI", {348, 49, 18, 11}},
};

}  // namespace

CAlarmBar::CAlarmBar(const LedIcons& icons, QWidget* parent)
    : QWidget(parent), icons(icons), form(new DialogForm(this, QSize(kBarWidth, kBarHeight))) {
    setObjectName(QStringLiteral("131"));
    setAccessibleName(QStringLiteral("34 Mbit/s alarms"));

    auto* local = new GroupBox(QStringLiteral("Local 34 Mbit/s Interface"), this);
    form->Place(local, QRect(35, 4, 148, 74));
    auto* remote = new GroupBox(QStringLiteral("Remote 34 Mbit/s Interface"), this);
    form->Place(remote, QRect(236, 3, 148, 73));

    for (std::size_t i = 0; i < std::size(kBarLeds); ++i) {
        const BarLed& def = kBarLeds[i];
        auto* led = new LedWidget(icons, LedWidget::Kind::Large, def.id,
                                  QString::fromLatin1(def.name), this);
        form->Place(led, QRect(def.x, 24, kLedWidth, kLedHeight));
        leds[i] = led;

        auto* label = new QLabel(QString::fromLatin1(def.label), this);
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(true);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        form->Place(label, def.labelRect);
    }

    // The lamp fills its sunken box.
    form->OnLayout([this](const DialogUnits& du) {
        for (LedWidget* led : leds) {
            const int frame = 2 * led->frameWidth();
            led->SetIconSide(std::max(1, std::min(du.X(kLedWidth), du.Y(kLedHeight)) - frame));
        }
    });
    form->Relayout();
}

CAlarmBar::~CAlarmBar() {
    delete form;
}

LedWidget* CAlarmBar::FindLed(int controlId) const {
    for (std::size_t i = 0; i < kLedIds.size(); ++i) {
        if (kLedIds[i] == controlId)
            return leds[i];
    }
    return nullptr;
}

void CAlarmBar::SetAlarmLedOff(int controlId) {
    if (LedWidget* led = FindLed(controlId))
        led->SetState(LedState::Off);
}

void CAlarmBar::SetAlarmLedRed(int controlId) {
    if (LedWidget* led = FindLed(controlId))
        led->SetState(LedState::Red);
}

void CAlarmBar::SetAlarmLedYellow(int controlId) {
    if (LedWidget* led = FindLed(controlId))
        led->SetState(LedState::Yellow);
}

LedState CAlarmBar::Led(int controlId) const {
    const LedWidget* led = FindLed(controlId);
    return led ? led->State() : LedState::Off;
}

QSize CAlarmBar::sizeHint() const {
    return form->PixelSize();
}

QSize CAlarmBar::minimumSizeHint() const {
    return form->PixelSize();
}

void CAlarmBar::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        form->Relayout();
        updateGeometry();
    }
    QWidget::changeEvent(event);
}

}  // namespace kestrel
