// The tributary form: 64 tributary LEDs and the four BER fields, one per splitter pane.
#pragma once

#include <array>
#include <string>

#include "display/LedForm.h"

class QLabel;

namespace kestrel {

class DialogUnits;

// Built from form template 101. Every control carries its id as its object name ("1012"), so
// the refresh code and tests find them as the template numbers them.
class CKestrelSettings : public LedForm {
    Q_OBJECT
public:
    explicit CKestrelSettings(const LedIcons& icons, QWidget* parent = nullptr);

    // Fields 1045, 1046, 1047, 1048 in that order (near total, near intermediate, far total,
    // far intermediate). User-interface thread only.
    void SetBerTexts(const std::array<std::string, 4>& texts);
    // The text of a field or label by id; empty for an unknown id.
    QString BerText(int controlId) const;
    // The BER fields drawn dimmed while what they show is not live, their texts kept.
    void SetBerStale(bool stale);

    // The line of G.821 figures under the BER block, hidden unless the user asks for it.
    void ShowG821Line(bool shown);
    // Fields 1024..1027 in that order: unavailable time, degraded minutes, SES, ES.
    void SetG821Texts(const std::array<QString, 4>& texts);

    // First ids of the four LED rows.
    static constexpr int kLocalNoSigFirst = 1008;
    static constexpr int kLocalCErrFirst = 1028;
    static constexpr int kRemoteNoSigFirst = 1060;
    static constexpr int kRemoteCErrFirst = 1076;
    // The LED ids of a tributary, indexed as in MonitorState: 0..15 local tributaries 1..16,
    // 16..31 remote tributaries 1..16.
    static int NoSigLedId(int index);
    static int CErrLedId(int index);

private:
    void Build();
    QLabel* AddText(int id, const char* text, int x, int y, int w, int h, Qt::Alignment align,
                    bool sunken, bool visible = true);
    void PlaceG821Fields(const DialogUnits& du);

    std::array<QLabel*, 4> g821Labels{};
    std::array<QLabel*, 4> g821Fields{};
    bool g821Shown = false;
    bool berStale = false;

public:
    // The controls, as the form's members name them.
    QLabel* farTotalBerText = nullptr;
    QLabel* farIntermediateBerText = nullptr;
    QLabel* nearTotalBerText = nullptr;
    QLabel* nearIntermediateBerText = nullptr;
    QLabel* statusText = nullptr;
};

}  // namespace kestrel
