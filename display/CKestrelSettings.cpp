// The tributary form: layout of its controls and the setters the refresh uses.
#include "display/CKestrelSettings.h"

#include <QLabel>
#include <algorithm>

#include "display/DialogForm.h"
#include "display/GroupBox.h"
#include "display/Refresh.h"
#include "session/Indications.h"

namespace kestrel {

namespace {

constexpr int kFormWidth = 427;
constexpr int kFormHeight = 234;
constexpr int kTribs = kTributariesPerEnd;

// The LED of tributary n (1-based) sits at this x in every row.
int LedX(int trib) {
    return 87 + 18 * (trib - 1);
}

}  // namespace

CKestrelSettings::CKestrelSettings(const LedIcons& icons, QWidget* parent)
    : LedForm(icons, QSize(kFormWidth, kFormHeight), parent) {
    setObjectName(QStringLiteral("CKestrelSettings"));
    Build();
}

int CKestrelSettings::NoSigLedId(int index) {
    return IsLocalTributary(index) ? kLocalNoSigFirst + index : kRemoteNoSigFirst + index - kTribs;
}

int CKestrelSettings::CErrLedId(int index) {
    return IsLocalTributary(index) ? kLocalCErrFirst + index : kRemoteCErrFirst + index - kTribs;
}

QLabel* CKestrelSettings::AddText(int id, const char* text, int x, int y, int w, int h,
                                  Qt::Alignment align, bool sunken, bool visible) {
    auto* label = new QLabel(QString::fromLatin1(text), this);
    if (id > 0)
        label->setObjectName(QString::number(id));
    label->setAlignment(align | Qt::AlignVCenter);
    label->setWordWrap((align & Qt::AlignHCenter) != 0);
    label->setTextFormat(Qt::PlainText);
    if (sunken)
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    // Hidden controls stay hidden when the form is shown.
    if (!visible)
        label->setVisible(false);
    Form().Place(label, QRect(x, y, w, h));
    return label;
}

void CKestrelSettings::Build() {
    // Group boxes first, so that they lie beneath the labels and LEDs they frame.
    auto* local = new GroupBox(QStringLiteral("Local 2Mbit/s Interfaces"), this);
    Form().Place(local, QRect(41, 29, 341, 53));
    auto* remote = new GroupBox(QStringLiteral("Remote 2Mbit/s Interfaces"), this);
    Form().Place(remote, QRect(41, 86, 342, 57));

    const Qt::Alignment centre = Qt::AlignHCenter;
    AddText(0, "Trib #", 53, 10, 26, 10, centre, true);
    for (int n = 1; n <= kTribs; ++n) {
        AddText(0, QByteArray::number(n).constData(), 83 + 18 * (n - 1), 10, 16, 10, centre, true);
    }

    struct Row {
        bool remoteEnd;
        bool cErr;
        int y;
        int firstId;
    };
    static constexpr Row kRows[] = {
        {false, false, 40, kLocalNoSigFirst},
        {false, true, 61, kLocalCErrFirst},
        {true, false, 99, kRemoteNoSigFirst},
        {true, true, 121, kRemoteCErrFirst},
    };
    for (const Row& row : kRows) {
        AddText(0, row.cErr ? "CErr" : "NoSig", 53, row.y, 26, 10, centre, true);
        for (int n = 1; n <= kTribs; ++n) {
            const int id = row.firstId + n - 1;
            const QString name =
                QStringLiteral("%1 trib %2 %3")
                    .arg(row.remoteEnd ? QStringLiteral("Remote") : QStringLiteral("Local"))
                    .arg(n)
                    .arg(row.cErr ? QStringLiteral("CErr") : QStringLiteral("NoSig"));
            AddLed(LedWidget::Kind::Small, id, name, QPoint(LedX(n), row.y));
        }
    }

    // BER block.
    const Qt::Alignment left = Qt::AlignLeft;
    const Qt::Alignment right = Qt::AlignRight;
    AddText(0, "Total BER", 103, 151, 44, 8, left, false);
    AddText(0, "Intermediate BER", 280, 151, 70, 8, left, false);
    AddText(0, "Near", 75, 164, 24, 8, left, false);
    AddText(0, "Far", 75, 172, 24, 8, left, false);
    AddText(0, "Near", 259, 164, 24, 8, left, false);
    AddText(0, "Far", 259, 172, 24, 8, left, false);
    nearTotalBerText = AddText(1045, "0.000000e-009", 120, 164, 57, 8, right, false);
    farTotalBerText = AddText(1047, "0.000000e-009", 120, 172, 57, 8, right, false);
    nearIntermediateBerText = AddText(1046, "0.000000e-009", 302, 164, 57, 8, right, false);
    farIntermediateBerText = AddText(1048, "0.000000e-009", 302, 172, 57, 8, right, false);

    // The G.821 line: hidden until the user asks for it (View, G.821 Figures).
    g821Labels = {AddText(0, "Unavaillable Time:", 51, 202, 70, 8, left, false, false),
                  AddText(0, "Dergeded Minutes:", 143, 202, 62, 8, left, false, false),
                  AddText(0, "SES:", 241, 203, 18, 8, left, false, false),
                  AddText(0, "Errored Seconds:", 289, 203, 58, 8, left, false, false)};
    g821Fields = {AddText(1024, "0%", 123, 203, 16, 8, right, false, false),
                  AddText(1025, "0%", 207, 204, 16, 8, right, false, false),
                  AddText(1026, "0%", 261, 204, 16, 8, right, false, false),
                  AddText(1027, "0%", 349, 204, 16, 8, right, false, false)};
    Form().OnLayout([this](const DialogUnits& du) { PlaceG821Fields(du); });

    statusText = AddText(1044, "", 51, 214, 261, 10, left, false);

    FinishLayout();
}

void CKestrelSettings::SetBerTexts(const std::array<std::string, 4>& texts) {
    QLabel* const fields[] = {nearTotalBerText, nearIntermediateBerText, farTotalBerText,
                              farIntermediateBerText};
    // A frame a second mostly brings the same figures again: only a changed one repaints.
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const QString text = QString::fromStdString(texts[i]);
        if (fields[i]->text() != text) {
            fields[i]->setText(text);
        }
    }
}

void CKestrelSettings::PlaceG821Fields(const DialogUnits& du) {
    // The template gives each figure 16 units, room for "0%" in the font it was drawn in, and
    // leaves some units between a figure and the next label. Each field reaches from its
    // label's text to at least its own right edge, wide enough for the widest figure. The
    // label after it keeps the template's distance from it (a space at the least), so that a
    // figure never reads as the next label's, and moves right as far as that needs and no
    // further: the line reads as drawn wherever the font leaves room.
    const QFontMetrics fm(font());
    const int space = fm.horizontalAdvance(QLatin1Char(' '));
    const int widest = fm.horizontalAdvance(QStringLiteral("100.00%"));
    // The units from the end of a figure to the next label, as the template draws them.
    static constexpr std::array<int, 3> kAfterUnits = {4, 18, 12};
    int nextFree = 0;
    for (std::size_t i = 0; i < g821Labels.size(); ++i) {
        QLabel* label = g821Labels[i];
        QRect at = label->geometry();
        at.moveLeft(std::max(at.left(), nextFree));
        // The label's text whole, and the label clear of its own field.
        const int text = fm.horizontalAdvance(label->text());
        at.setWidth(std::min(std::max(at.width(), text + 1), text + space));
        label->setGeometry(at);
        QRect field = g821Fields[i]->geometry();
        const int left = at.left() + text + space;
        const int right = std::max(field.left() + field.width(), left + widest);
        field.setLeft(left);
        field.setRight(right - 1);
        g821Fields[i]->setGeometry(field);
        if (i < kAfterUnits.size()) {
            nextFree = right + std::max(space, du.X(kAfterUnits[i]));
        }
    }
}

void CKestrelSettings::ShowG821Line(bool shown) {
    if (shown == g821Shown) {
        return;
    }
    g821Shown = shown;
    for (QLabel* label : g821Labels) {
        label->setVisible(shown);
    }
    for (QLabel* field : g821Fields) {
        field->setVisible(shown);
    }
}

void CKestrelSettings::SetG821Texts(const std::array<QString, 4>& texts) {
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (g821Fields[i]->text() != texts[i]) {
            g821Fields[i]->setText(texts[i]);
        }
    }
}

void CKestrelSettings::SetBerStale(bool stale) {
    if (stale == berStale) {
        return;
    }
    berStale = stale;
    for (QLabel* field :
         {nearTotalBerText, nearIntermediateBerText, farTotalBerText, farIntermediateBerText}) {
        ShowStale(*field, stale);
    }
}

QString CKestrelSettings::BerText(int controlId) const {
    const auto* label = findChild<QLabel*>(QString::number(controlId), Qt::FindDirectChildrenOnly);
    return label ? label->text() : QString();
}

}  // namespace kestrel
