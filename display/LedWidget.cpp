// LED control: painting from the shared icons and its accessible state.
#include "display/LedWidget.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPainter>
#include <QTimer>
#include <algorithm>

namespace kestrel {

namespace {

// Screen readers hear an LED as an indicator whose description is its state, so that lit and
// unlit can be told apart without the colour.
class LedAccessible : public QAccessibleWidget {
public:
    explicit LedAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Indicator) {}
};

QAccessibleInterface* LedAccessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("kestrel::LedWidget") && object && object->isWidgetType()) {
        return new LedAccessible(static_cast<QWidget*>(object));
    }
    return nullptr;
}

void InstallAccessibleFactoryOnce() {
    static const bool installed = [] {
        QAccessible::installFactory(LedAccessibleFactory);
        return true;
    }();
    (void)installed;
}

}  // namespace

LedWidget::LedWidget(const LedIcons& icons, Kind kind, int controlId, const QString& accessibleName,
                     QWidget* parent)
    : QFrame(parent), icons(icons), kind(kind), name(accessibleName) {
    InstallAccessibleFactoryOnce();
    setObjectName(QString::number(controlId));
    setAccessibleName(name);
    setAccessibleDescription(StateText(state));
    setToolTip(name + QStringLiteral(": ") + StateText(state));
    setFocusPolicy(Qt::NoFocus);
    if (kind == Kind::Large) {
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
        setLineWidth(1);
    }
}

QString LedWidget::StateText(LedState state) {
    switch (state) {
        case LedState::Red:
            return QStringLiteral("lit red");
        case LedState::Yellow:
            return QStringLiteral("lit yellow");
        case LedState::Off:
            break;
    }
    return QStringLiteral("unlit");
}

const QIcon& LedWidget::Icon() const {
    return kind == Kind::Large ? icons.Large(state) : icons.Small(state);
}

void LedWidget::SetState(LedState newState) {
    // Every refresh sets every LED; only a real change costs a repaint and an accessibility
    // event.
    if (newState == state)
        return;
    state = newState;
    setAccessibleDescription(StateText(state));
    setToolTip(name + QStringLiteral(": ") + StateText(state));
    update();
}

void LedWidget::SetIconSide(int side) {
    if (side < 1)
        side = 1;
    if (side == iconSide)
        return;
    iconSide = side;
    update();
}

void LedWidget::Highlight(std::chrono::milliseconds duration) {
    if (!highlightTimer) {
        highlightTimer = new QTimer(this);
        highlightTimer->setSingleShot(true);
        connect(highlightTimer, &QTimer::timeout, this, [this] {
            highlighted = false;
            update();
        });
    }
    highlighted = true;
    highlightTimer->start(duration);
    update();
}

void LedWidget::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect area = contentsRect();
    QRect target(area.topLeft(), QSize(iconSide, iconSide));
    // The bar's lamps sit in the middle of their sunken box; the panel's small ones keep to
    // the top left corner of their cell, as an icon control does, which puts them under the
    // column numbers.
    if (kind == Kind::Large)
        target.moveCenter(area.center());
    Icon().paint(&painter, target, Qt::AlignCenter);
    if (highlighted) {
        // The highlight colour of the palette, thick enough to be seen beside a lit lamp.
        const int width = std::max(2, iconSide / 8);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(palette().color(QPalette::Highlight), width));
        painter.setBrush(Qt::NoBrush);
        const int half = (width + 1) / 2;
        painter.drawEllipse(target.adjusted(-half, -half, half, half)
                                .intersected(rect().adjusted(half, half, -half, -half)));
    }
}

}  // namespace kestrel
