// The status bar's seven panes: counts, port, connection, data and elapsed time.
#pragma once

#include <QString>
#include <map>
#include <string>

class QLabel;
class QMainWindow;
class QStatusBar;

namespace kestrel {

class MuxSession;

class StatusPanes {
public:
    // Builds the status bar of `window`: each pane as wide as its placeholder.
    explicit StatusPanes(QMainWindow& window);

    QStatusBar* Bar() const { return bar; }
    QLabel* Pane(int indicatorId) const;
    QString Text(int indicatorId) const;

    // The pane texts of the session as it is now; a pane repaints only when its text changed.
    void Update(const MuxSession& session);

private:
    void SetText(int indicatorId, const std::string& text);

    QStatusBar* bar;
    std::map<int, QLabel*> panes;
};

}  // namespace kestrel
