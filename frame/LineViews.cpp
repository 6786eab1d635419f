// The views of the line's memory in the main window.
#include "frame/LineViews.h"

#include <QAction>
#include <QMainWindow>

#include "display/CKestrelSettings.h"
#include "display/Refresh.h"
#include "frame/CommandIds.h"
#include "frame/CommandMenus.h"
#include "performance/Figures.h"
#include "session/MuxSession.h"
#include "store/SettingsStore.h"

namespace kestrel {

namespace {
// --- G.821 figures ---
constexpr char kG821FiguresKey[] = "G821Figures";
}  // namespace

LineViews::LineViews(Parts parts) : parts(std::move(parts)) {}

LineViews::~LineViews() = default;

LineSource LineViews::Source() const {
    MuxSession* session = parts.session;
    LineSource source;
    source.memory = [session]() -> const LineMemory& { return session->Memory(); };
    source.acknowledge = [session](std::int64_t id) { return session->Acknowledge(id); };
    source.acknowledgeAll = [session] { return session->AcknowledgeAll(); };
    source.now = [session] { return session->WallNow(); };
    return source;
}

void LineViews::Bind(CommandMenus& menus) {
    // --- Alarm journal ---
    // --- Performance window ---
    // --- G.821 figures ---
    g821Shown = parts.settings && parts.settings->ReadViewFlag(kG821FiguresKey, false);
    menus.BindToggle(cmd::kViewG821Figures, [this](bool on) {
        g821Shown = on;
        if (parts.settings) {
            parts.settings->WriteViewFlag(kG821FiguresKey, on);
        }
        g821Applied = false;
        ApplyG821Line();
    });
    // --- Notifications ---
}

void LineViews::Refreshed() {
    // --- Alarm journal ---
    // --- Performance window ---
    // --- G.821 figures ---
    if (g821Shown) {
        PaintG821Figures();
    }
    // --- Notifications ---
}

void LineViews::Update(CommandMenus& menus) {
    // --- Alarm journal ---
    // --- G.821 figures ---
    menus.Action(cmd::kViewG821Figures)->setChecked(g821Shown);
    if (!g821Applied) {
        ApplyG821Line();
    }
    // --- Notifications ---
}

// --- G.821 figures ---

void LineViews::ApplyG821Line() {
    const QList<CKestrelSettings*> panels = parts.window->findChildren<CKestrelSettings*>();
    for (CKestrelSettings* panel : panels) {
        panel->ShowG821Line(g821Shown);
    }
    g821Applied = !panels.isEmpty();
    // Shown with the figures of now, not the template's until the next refresh.
    if (g821Shown) {
        PaintG821Figures();
    }
}

void LineViews::PaintG821Figures() {
    // The near end's current 24-hour interval: what the day has been so far.
    const Percentages shares =
        PercentagesOf(parts.session->Memory().Current(BinKind::Day).figures[kNearObject]);
    // Every pane's form, shown or not: one that is shown later is up to date at once.
    for (CKestrelSettings* panel : parts.window->findChildren<CKestrelSettings*>()) {
        PaintG821Line(*panel, shares);
    }
}

}  // namespace kestrel
