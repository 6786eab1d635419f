// The status file written for unattended runs and the end-to-end tests.
#include "app/StatusFile.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <cstdio>

#include "display/CAlarmBar.h"
#include "display/CKestrelSettings.h"
#include "frame/CMainFrame.h"
#include "frame/CommandIds.h"

namespace kestrel {

namespace {

QString LedText(LedState state) {
    switch (state) {
        case LedState::Red:
            return QStringLiteral("r");
        case LedState::Yellow:
            return QStringLiteral("y");
        case LedState::Off:
            break;
    }
    return QStringLiteral("o");
}

// Sixteen LEDs of one row, tributary 1 first; a window without a pane shows them all off.
QString LedRow(const CKestrelSettings* panel, int firstId) {
    QString row;
    for (int i = 0; i < 16; ++i) {
        row += LedText(panel ? panel->Led(firstId + i) : LedState::Off);
    }
    return row;
}

}  // namespace

QByteArray StatusFile::Report(bool closed) {
    // The pane texts follow a light tick of their own; bring them up to this moment.
    if (!closed) {
        frame.RunUpdateHandlers();
    }
    QJsonObject panes;
    const std::pair<const char*, int> paneIds[] = {
        {"nearErrors", cmd::kIndicatorNearErrors},
        {"farErrors", cmd::kIndicatorFarErrors},
        {"com", cmd::kIndicatorCom},
        {"port", cmd::kIndicatorPort},
        {"mux", cmd::kIndicatorMux},
        {"data", cmd::kIndicatorData},
        {"time", cmd::kIndicatorTime},
    };
    for (const auto& [name, id] : paneIds) {
        panes[QLatin1String(name)] = frame.PaneText(id);
    }

    QJsonObject alarms;
    for (const int id : CAlarmBar::kLedIds) {
        alarms[QString::number(id)] =
            LedText(frame.AlarmBar() ? frame.AlarmBar()->Led(id) : LedState::Off);
    }

    const CKestrelSettings* panel = frame.ActivePanel();
    QJsonObject tribs;
    tribs[QStringLiteral("localNoSig")] = LedRow(panel, CKestrelSettings::kLocalNoSigFirst);
    tribs[QStringLiteral("localCErr")] = LedRow(panel, CKestrelSettings::kLocalCErrFirst);
    tribs[QStringLiteral("remoteNoSig")] = LedRow(panel, CKestrelSettings::kRemoteNoSigFirst);
    tribs[QStringLiteral("remoteCErr")] = LedRow(panel, CKestrelSettings::kRemoteCErrFirst);

    QJsonObject ber;
    const std::pair<const char*, int> berIds[] = {{"nearTotal", 1045},
                                                  {"nearIntermediate", 1046},
                                                  {"farTotal", 1047},
                                                  {"farIntermediate", 1048}};
    for (const auto& [name, id] : berIds) {
        ber[QLatin1String(name)] = panel ? panel->BerText(id) : QString();
    }

    QJsonObject root;
    root[QStringLiteral("format")] = 1;
    root[QStringLiteral("sequence")] = static_cast<qint64>(++sequence);
    root[QStringLiteral("closed")] = closed;
    root[QStringLiteral("panes")] = panes;
    root[QStringLiteral("frameCount")] = static_cast<qint64>(frame.State().frameCount.load());
    root[QStringLiteral("alarmLeds")] = alarms;
    root[QStringLiteral("tributaryLeds")] = tribs;
    root[QStringLiteral("ber")] = ber;
    root[QStringLiteral("statistics")] = frame.Statistics().IsEventLogOpen();
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

void StatusFile::Write(bool closed) {
    QSaveFile file(path);
    const QByteArray text = Report(closed);
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit()) {
        failureTold = false;
        return;
    }
    if (!failureTold) {
        failureTold = true;
        std::fprintf(stderr, "kestrel: cannot write the status file %s: %s\n",
                     QFile::encodeName(path).constData(),
                     file.errorString().toLocal8Bit().constData());
    }
}

}  // namespace kestrel
