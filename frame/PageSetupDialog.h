// A small page set-up dialog: paper size and orientation for printing.
#pragma once

#include <QDialog>

class QComboBox;
class QRadioButton;

namespace kestrel {

// The program prints nothing itself, so the choice is only kept for the session.
class PageSetupDialog : public QDialog {
    Q_OBJECT
public:
    explicit PageSetupDialog(QWidget* parent = nullptr);
    void SetPage(int paperIndex, bool landscape);
    int PaperIndex() const;
    bool Landscape() const;

private:
    QComboBox* paper;
    QRadioButton* portrait;
    QRadioButton* landscape;
};

}  // namespace kestrel
