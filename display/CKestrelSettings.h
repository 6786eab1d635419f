// The tributary form: 64 tributary LEDs and the four BER fields, one per splitter pane.
#pragma once

#include <QWidget>
#include <array>
#include <string>

#include "display/LedIcons.h"

class QLabel;

namespace kestrel {

class LedWidget;
class DialogForm;

// Built from form template 101. Every control carries its id as its object name ("1012"), so
// the refresh code and tests find them as the template numbers them.
class CKestrelSettings : public QWidget {
    Q_OBJECT
public:
    // The form keeps a reference to the icons: they must outlive it and stay where they are,
    // as they do in the application object.
    explicit CKestrelSettings(const LedIcons& icons, QWidget* parent = nullptr);
    ~CKestrelSettings() override;

    void SetTribLedOff(int controlId);
    void SetTribLedRed(int controlId);
    void SetTribLedYellow(int controlId);
    // What an LED shows; Off for an id that is not an LED of this form.
    LedState Led(int controlId) const;

    // Fields 1045, 1046, 1047, 1048 in that order (near total, near intermediate, far total,
    // far intermediate). User-interface thread only.
    void SetBerTexts(const std::array<std::string, 4>& texts);
    // The text of a field or label by id; empty for an unknown id.
    QString BerText(int controlId) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // First ids of the four LED rows.
    static constexpr int kLocalNoSigFirst = 1008;
    static constexpr int kLocalCErrFirst = 1028;
    static constexpr int kRemoteNoSigFirst = 1060;
    static constexpr int kRemoteCErrFirst = 1076;

protected:
    void changeEvent(QEvent* event) override;

private:
    void Build();
    LedWidget* FindLed(int controlId) const;
    QLabel* AddText(int id, const char* text, int x, int y, int w, int h, Qt::Alignment align,
                    bool sunken, bool visible = true);

    const LedIcons& icons;
    DialogForm* form;

public:
    // The controls, as the form's members name them. Indexes as in MonitorState: 0..15 local
    // tributaries 1..16, 16..31 remote tributaries 1..16.
    QLabel* farTotalBerText = nullptr;
    QLabel* farIntermediateBerText = nullptr;
    QLabel* nearTotalBerText = nullptr;
    QLabel* nearIntermediateBerText = nullptr;
    QLabel* statusText = nullptr;
    std::array<LedWidget*, 32> cErrLeds{};
    std::array<LedWidget*, 32> noSigLeds{};
};

}  // namespace kestrel
