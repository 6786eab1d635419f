// The client area: a splitter of up to 2 x 2 panes, each holding its own tributary form.
#pragma once

#include <QSplitter>
#include <array>

#include "display/LedIcons.h"

class QScrollArea;

namespace kestrel {

class CKestrelSettings;

// All four forms exist from the start; a pane that is not shown has been squeezed to nothing
// by its splitter handle, as a split box at the edge of the window. Dragging a handle in from
// the edge or the "Split" command shows more panes; dragging one to the edge hides them again.
// The active pane is the one that last had the focus, and it always is a visible one.
class ClientSplitter : public QSplitter {
    Q_OBJECT
public:
    explicit ClientSplitter(const LedIcons& icons, QWidget* parent = nullptr);

    // The form of the active pane.
    CKestrelSettings* ActivePanel() const { return panels[active]; }
    int ActiveIndex() const { return active; }
    // Pane index: row * 2 + column.
    CKestrelSettings* Panel(int index) const { return panels[index]; }
    bool IsPaneVisible(int index) const;
    int VisiblePaneCount() const;

    // Divides the area into four equal panes.
    void Split();
    // Back to the single first pane.
    void Unsplit();
    // F6 / Shift+F6: moves the focus to the next or previous visible pane.
    void NextPane(bool forward);
    // Makes a pane the active one and gives it the focus.
    void Activate(int index);

signals:
    void ActivePanelChanged(CKestrelSettings* panel);

private:
    void OnFocusChanged(QWidget* now);
    void OnSplitterMoved();
    void SetActive(int index);

    std::array<QSplitter*, 2> rows{};
    std::array<QScrollArea*, 4> areas{};
    std::array<CKestrelSettings*, 4> panels{};
    int active = 0;
    std::array<bool, 2> rowShown{true, false};
    std::array<bool, 2> colShown{true, false};
    bool syncing = false;
};

}  // namespace kestrel
