// The status bar's seven panes: counts, port, connection, data and elapsed time.
#pragma once

#include <QSize>
#include <QString>
#include <map>
#include <string>

class QLabel;
class QMainWindow;
class QStatusBar;

namespace kestrel {

class MuxSession;

// What the status bar says how to start while the port is not open.
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

    // The line above the panes that tells how to start; empty while the port is open.
    QLabel* Hint() const { return hint; }

    // The pane texts of the session as it is now; a pane repaints only when its text changed.
    // The error counts are dimmed while no data comes or the MUX is not connected.
    void Update(const MuxSession& session);
    // Whether the figures on show are not live: "No Data" or "MUX NOT CONNECTED".
    bool Stale() const { return stale; }

private:
    void SetText(int indicatorId, const std::string& text);

    QStatusBar* bar;
    QLabel* hint = nullptr;
    std::map<int, QLabel*> panes;
    bool stale = false;
};

}  // namespace kestrel
