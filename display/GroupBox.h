// A group box whose caption sits on its top border, as the form templates were laid out for.
#pragma once

#include <QGroupBox>

namespace kestrel {

// The templates put the first row of controls just under the box's top edge, counting on the
// caption being drawn across the border line. Styles that put the caption above the frame
// would push the frame into those controls, so box and caption are drawn here.
class GroupBox : public QGroupBox {
    Q_OBJECT
public:
    GroupBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace kestrel
