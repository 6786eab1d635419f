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

    // The pane texts of the session as it is now; a pane repaints only when its text changed.
    // The error counts are dimmed while no data comes or the MUX is not connected. The line
    // that tells how to start goes for good once a port has opened.
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
