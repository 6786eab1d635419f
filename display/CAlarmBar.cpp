// The alarm bar: layout of its LEDs and labels.
#include "display/CAlarmBar.h"

#include <QLabel>

#include "display/DialogForm.h"
#include "display/GroupBox.h"
#include "session/Indications.h"

namespace kestrel {

namespace {

constexpr int kBarWidth = 428;
constexpr int kBarHeight = 91;

struct BarLed {
    int x;
    const char* name;
    const char* label;
    QRect labelRect;
};

// In the order of kAlarmIndications; all LEDs sit at y 24.
constexpr BarLed kBarLeds[] = {
    {58, "Local No Signal", "No Signal", {54, 49, 30, 20}},
    {87, "Local AIS", "AIS", {88, 49, 20, 11}},
    {116, "Local LOF", "LOF", {117, 49, 20, 11}},
    {145, "Local RAI", "RAI", {147, 49, 18, 11}},
    {259, "Remote No Signal", "No Signal", {255, 49, 30, 20}},
    {288, "Remote AIS", "AIS", {289, 49, 20, 11}},
    {317, "Remote LOF", "LOF", {318, 49, 20, 11}},
    {346, "Remote RAI", "RAI", {348, 49, 18, 11}},
};
static_assert(std::size(kBarLeds) == kAlarmIndications.size());

}  // namespace

CAlarmBar::CAlarmBar(const LedIcons& icons, QWidget* parent)
    : LedForm(icons, QSize(kBarWidth, kBarHeight), parent) {
    setObjectName(QStringLiteral("131"));
    setAccessibleName(QStringLiteral("34 Mbit/s alarms"));

    auto* local = new GroupBox(QStringLiteral("Local 34 Mbit/s Interface"), this);
    Form().Place(local, QRect(35, 4, 148, 74));
    auto* remote = new GroupBox(QStringLiteral("Remote 34 Mbit/s Interface"), this);
    Form().Place(remote, QRect(236, 3, 148, 73));

    for (std::size_t i = 0; i < std::size(kBarLeds); ++i) {
        const BarLed& def = kBarLeds[i];
        AddLed(LedWidget::Kind::Large, kAlarmIndications[i].ledId, QString::fromLatin1(def.name),
               QPoint(def.x, 24));
        auto* label = new QLabel(QString::fromLatin1(def.label), this);
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(true);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        Form().Place(label, def.labelRect);
    }
    FinishLayout();
}

}  // namespace kestrel
