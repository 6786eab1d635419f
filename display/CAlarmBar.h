// The alarm bar: the eight 34 Mbit/s LEDs of the local and the remote interface.
#pragma once

#include <QWidget>
#include <array>

#include "display/LedIcons.h"

namespace kestrel {

class LedWidget;
class DialogForm;

// Built from bar template 131 and docked at the top of the main window by the frame. Each LED
// carries its id as its object name ("1126").
class CAlarmBar : public QWidget {
    Q_OBJECT
public:
    // The bar keeps a reference to the icons: they must outlive it and stay where they are,
    // as they do in the application object.
    explicit CAlarmBar(const LedIcons& icons, QWidget* parent = nullptr);
    ~CAlarmBar() override;

    void SetAlarmLedOff(int controlId);
    void SetAlarmLedRed(int controlId);
    void SetAlarmLedYellow(int controlId);
    // What an LED shows; Off for an id that is not an LED of the bar.
    LedState Led(int controlId) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // The LED ids in refresh order: local No Signal, AIS, LOF, RAI, remote No Signal, AIS,
    // LOF, RAI. The ids do not follow the positions (1128 is local RAI, 1127 remote No Signal).
    static constexpr std::array<int, 8> kLedIds = {1124, 1125, 1126, 1128, 1127, 1129, 1130, 1131};

protected:
    void changeEvent(QEvent* event) override;

private:
    LedWidget* FindLed(int controlId) const;

    const LedIcons& icons;
    DialogForm* form;
    std::array<LedWidget*, 8> leds{};
};

}  // namespace kestrel
