// A small page set-up dialog: paper size and orientation for printing.
#include "frame/PageSetupDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QVBoxLayout>

namespace kestrel {

PageSetupDialog::PageSetupDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Page Setup"));
    setObjectName(QStringLiteral("pageSetup"));
    auto* layout = new QVBoxLayout(this);
    auto* paperBox = new QGroupBox(QStringLiteral("Paper"), this);
    auto* form = new QFormLayout(paperBox);
    paper = new QComboBox(paperBox);
    paper->addItems({QStringLiteral("A4"), QStringLiteral("Letter"), QStringLiteral("Legal"),
                     QStringLiteral("A3"), QStringLiteral("A5")});
    form->addRow(QStringLiteral("Si&ze:"), paper);
    layout->addWidget(paperBox);
    auto* orientationBox = new QGroupBox(QStringLiteral("Orientation"), this);
    auto* row = new QHBoxLayout(orientationBox);
    portrait = new QRadioButton(QStringLiteral("P&ortrait"), orientationBox);
    landscape = new QRadioButton(QStringLiteral("L&andscape"), orientationBox);
    portrait->setChecked(true);
    row->addWidget(portrait);
    row->addWidget(landscape);
    layout->addWidget(orientationBox);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void PageSetupDialog::SetPage(int paperIndex, bool isLandscape) {
    paper->setCurrentIndex(paperIndex);
    (isLandscape ? landscape : portrait)->setChecked(true);
}

int PageSetupDialog::PaperIndex() const {
    return paper->currentIndex();
}

bool PageSetupDialog::Landscape() const {
    return landscape->isChecked();
}

}  // namespace kestrel
