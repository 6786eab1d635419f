// One LED control: paints the shared icon of its state and tells its state to accessibility.
#pragma once

#include <QFrame>
#include <QString>
#include <chrono>

#include "display/LedIcons.h"

class QTimer;

namespace kestrel {

// Stands for an icon-style static control. It keeps a reference to the application's icons
// and the state it shows; changing the state only repaints.
class LedWidget : public QFrame {
    Q_OBJECT
public:
    enum class Kind { Small, Large };

    LedWidget(const LedIcons& icons, Kind kind, int controlId, const QString& accessibleName,
              QWidget* parent);

    void SetState(LedState state);
    LedState State() const { return state; }
    Kind LedKind() const { return kind; }
    const QIcon& Icon() const;

    // Side of the square picture in pixels; set by the form from its dialog units.
    void SetIconSide(int side);
    int IconSide() const { return iconSide; }

    // Draws a ring around the lamp for `duration`, so that the user finds it; a second call
    // while it shows starts the time again.
    void Highlight(std::chrono::milliseconds duration);
    bool Highlighted() const { return highlighted; }

    static QString StateText(LedState state);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const LedIcons& icons;
    Kind kind;
    LedState state = LedState::Off;
    int iconSide = 16;
    QString name;
    bool highlighted = false;
    QTimer* highlightTimer = nullptr;  // made with the first highlight
};

}  // namespace kestrel
