// The status file: a small JSON picture of the window that other programs can read.
#pragma once

#include <QByteArray>
#include <QString>

namespace kestrel {

class CMainFrame;

// For unattended runs and the end-to-end tests: at every supervision tick, and once more when
// the window has closed, the file is replaced as a whole (written aside, then renamed), so a
// reader never sees half of it. Its members:
//   "format"         1
//   "sequence"       writes so far, counting this one
//   "closed"         true in the last write, made after the close handler
//   "panes"          the seven status-bar texts: "nearErrors", "farErrors", "com", "port",
//                    "mux", "data", "time"
//   "frameCount"     passes of the frame parser since start
//   "alarmLeds"      the eight alarm-bar LEDs by control id ("1124" .. "1131")
//   "tributaryLeds"  the active pane's LEDs as four strings of 16, tributary 1 first:
//                    "localNoSig", "localCErr", "remoteNoSig", "remoteCErr"
//   "ber"            the four BER fields: "nearTotal", "nearIntermediate", "farTotal",
//                    "farIntermediate"
//   "statistics"     whether statistics are on (the EventLog is open)
// An LED is "o" (off), "r" (red) or "y" (yellow).
class StatusFile {
public:
    StatusFile(CMainFrame& frame, QString path) : frame(frame), path(std::move(path)) {}

    // The JSON text of the window as it is now.
    QByteArray Report(bool closed);
    // Writes the file. A failure is told on stderr once, and the program carries on.
    void Write(bool closed = false);

private:
    CMainFrame& frame;
    QString path;
    long long sequence = 0;
    bool failureTold = false;
};

}  // namespace kestrel
