// The status bar's seven panes: counts, port, connection, data and elapsed time.
#pragma once

#include <QSize>
#include <QString>
#include <functional>
#include <map>
#include <string>

class QLabel;
class QMainWindow;
class QStatusBar;

namespace kestrel {

class MuxSession;
class PaneLabel;
class PaneRow;

// What the status bar says how to start until a port has opened.
inline constexpr char kPortHint[] =
    "Choose a port in Communication > Port Settings, then tick Port Open";

class StatusPanes {
public:
    // Builds the status bar of `window`: each pane as wide as its placeholder.
    explicit StatusPanes(QMainWindow& window);

    QStatusBar* Bar() const { return bar; }
    // The size the bar wants, also before it is first shown, when it does not count yet the
    // size grip it will show.
    QSize SizeWanted() const;
    QLabel* Pane(int indicatorId) const;
    QString Text(int indicatorId) const;
    // Words about a pane for its tooltip, beside its whole text when the pane is too narrow
    // for it; empty: none.
    void SetNote(int indicatorId, const QString& note);
    // Whether the line that tells how to start shows; while it does, `opened` is told when a
    // port opens, and the line goes.
    void ShowHint(bool shown, std::function<void()> opened);

    // The pane texts of the session as it is now; a pane repaints only when its text changed.
    // The error counts are dimmed while no data comes or the MUX is not connected. The line
    // that tells how to start goes for good once a port has opened. While the link is being
    // looked for, the bar says so beside the panes, with the time of the next try.
    void Update(const MuxSession& session);
    // Whether the figures on show are not live: "No Data" or "MUX NOT CONNECTED".
    bool Stale() const { return stale; }

private:
    void SetText(int indicatorId, const std::string& text);

    void ShowRetrying(const MuxSession& session);

    QStatusBar* bar;
    QLabel* hint = nullptr;
    std::function<void()> hintOpened;
    QLabel* retrying = nullptr;
    PaneRow* row = nullptr;
    std::map<int, PaneLabel*> panes;
    bool stale = false;
};

}  // namespace kestrel
