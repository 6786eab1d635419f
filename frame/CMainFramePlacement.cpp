// The main window's placement: stored, restored onto the screens there are, and the size and
// place of a first start.
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QWindow>

#include "display/CAlarmBar.h"
#include "display/CKestrelSettings.h"
#include "frame/CMainFrame.h"
#include "frame/Placement.h"
#include "frame/StatusPanes.h"

namespace kestrel {

bool CMainFrame::ReadWindowPlacement(WindowPlacement& placement) const {
    const auto p = env.settings ? env.settings->ReadWindowPos() : std::nullopt;
    if (p) {
        placement = *p;
    }
    return p.has_value();
}

void CMainFrame::WriteWindowPlacement(const WindowPlacement& placement) {
    if (env.settings) {
        env.settings->WriteWindowPos(placement);
    }
}

WindowPlacement CMainFrame::CurrentPlacement() const {
    // The window's own rectangle without the frame the window manager draws: restoring the
    // same rectangle then puts the window back exactly, without creeping by a title bar.
    QRect g = (isMinimized() || isMaximized() || isFullScreen()) ? normalGeometry() : geometry();
    if (!g.isValid()) {
        g = geometry();
    }
    WindowPlacement p;
    p.flags = 0;
    p.showCmd = kShowNormal;
    p.left = g.x();
    p.top = g.y();
    p.right = g.x() + g.width();
    p.bottom = g.y() + g.height();
    return p;
}

void CMainFrame::ApplyPlacement(const WindowPlacement& placement) {
    QList<QRect> screens;
    for (QScreen* s : QGuiApplication::screens()) {
        screens << s->availableGeometry();
    }
    const RestoredRect restored =
        KeepOnScreens(placement.left, placement.top, placement.right, placement.bottom, screens,
                      minimumSizeHint().expandedTo(minimumSize()));
    setGeometry(restored.rect);
    placementClamped = restored.clamped;
    if (placement.showCmd == kShowMaximized) {
        setWindowState(windowState() | Qt::WindowMaximized);
    }
}

QSize CMainFrame::DefaultSize() const {
    // One pane's form with the bars around it, within the screen: the splitter's own hint
    // would count all four panes.
    const QSize form = ActivePanel() ? ActivePanel()->sizeHint() : QSize(640, 360);
    const int chrome = 16;
    int width = std::max(form.width(), alarmBarWnd ? alarmBarWnd->sizeHint().width() : 0);
    width = std::max(width + chrome, minimumSizeHint().width());
    int height = form.height() + chrome + menuBar()->sizeHint().height();
    // The bars may shrink below what they want (large fonts): the default gives them that.
    for (const QSize wanted :
         {toolBar ? toolBar->sizeHint() : QSize(), alarmBar ? alarmBar->sizeHint() : QSize(),
          panes ? panes->SizeWanted() : QSize()}) {
        width = std::max(width, wanted.width());
        height += std::max(0, wanted.height());
    }
    return {width, height};
}

QMargins CMainFrame::FrameMargins() const {
    // Before the window is shown no platform knows the frame its window manager will draw:
    // a title bar about two lines of the window's font high and thin borders is more than
    // most draw, and a window a little smaller than the screen does no harm.
    const int line = fontMetrics().height();
    QMargins frame(line / 2, 2 * line, line / 2, line / 2);
    if (const QWindow* window = windowHandle()) {
        const QMargins known = window->frameMargins();
        frame = QMargins(std::max(frame.left(), known.left()), std::max(frame.top(), known.top()),
                         std::max(frame.right(), known.right()),
                         std::max(frame.bottom(), known.bottom()));
    }
    return frame;
}

void CMainFrame::PlaceFirstTime() {
    const QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!shown) {
        resize(DefaultSize());
        return;
    }
    const FirstRect first =
        FitFirstPlacement(DefaultSize(), shown->availableGeometry(), FrameMargins(),
                          minimumSizeHint().expandedTo(minimumSize()));
    if (first.at) {
        setGeometry(QRect(*first.at, first.size));
    } else {
        resize(first.size);
    }
}

}  // namespace kestrel
