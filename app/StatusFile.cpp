// The status file written for unattended runs and the end-to-end tests.
#include "app/StatusFile.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <cstdio>
#include <vector>

#include "display/CAlarmBar.h"
#include "display/CKestrelSettings.h"
#include "frame/CMainFrame.h"
#include "session/Indications.h"
#include "session/MuxSession.h"
#include "session/StatusPicture.h"
#include "stats/StatisticsLog.h"

namespace kestrel {

namespace {

const char* LedText(LedState state) {
    return LedLetter(state != LedState::Off, state == LedState::Red);
}

// The picture's members as nested JSON objects.
class QJsonSink : public StatusPictureSink {
public:
    explicit QJsonSink(QJsonObject& root) { open.push_back({QString(), root}); }
    void Open(const std::string& key) override {
        open.push_back({QString::fromStdString(key), QJsonObject()});
    }
    void Close() override {
        auto [key, object] = open.back();
        open.pop_back();
        open.back().second[key] = object;
    }
    void Text(const std::string& key, const std::string& value) override {
        Top()[QString::fromStdString(key)] = QString::fromStdString(value);
    }
    void Number(const std::string& key, long long value) override {
        Top()[QString::fromStdString(key)] = static_cast<qint64>(value);
    }
    void Flag(const std::string& key, bool value) override {
        Top()[QString::fromStdString(key)] = value;
    }
    QJsonObject Root() const { return open.front().second; }

private:
    QJsonObject& Top() { return open.back().second; }
    std::vector<std::pair<QString, QJsonObject>> open;
};

}  // namespace

QByteArray StatusFile::Report(bool closed) {
    // The pane texts follow a light tick of their own; bring them up to this moment.
    if (!closed) {
        frame.RunUpdateHandlers();
    }
    StatusPicture picture;
    for (std::size_t i = 0; i < kStatusPanes.size(); ++i) {
        picture.panes[i] = frame.PaneText(kStatusPanes[i].id).toStdString();
    }
    picture.frameCount = static_cast<long long>(frame.State().frameCount.load());
    for (std::size_t i = 0; i < kAlarmIndications.size(); ++i) {
        picture.alarmLeds[i] = LedText(
            frame.AlarmBar() ? frame.AlarmBar()->Led(kAlarmIndications[i].ledId) : LedState::Off);
    }
    // Sixteen LEDs of one row, tributary 1 first; a window without a pane shows them all off.
    const CKestrelSettings* panel = frame.ActivePanel();
    auto row = [panel](int (*ledId)(int), bool local) {
        std::string text;
        for (int i = 0; i < kTributariesPerEnd; ++i) {
            const int index = local ? i : kTributariesPerEnd + i;
            text += LedText(panel ? panel->Led(ledId(index)) : LedState::Off);
        }
        return text;
    };
    picture.tributaryRows = {
        row(CKestrelSettings::NoSigLedId, true), row(CKestrelSettings::CErrLedId, true),
        row(CKestrelSettings::NoSigLedId, false), row(CKestrelSettings::CErrLedId, false)};
    const int berIds[] = {1045, 1046, 1047, 1048};
    for (std::size_t i = 0; i < picture.ber.size(); ++i) {
        picture.ber[i] = panel ? panel->BerText(berIds[i]).toStdString() : std::string();
    }
    picture.statistics = frame.Statistics().IsEventLogOpen();
    picture.line = LineReportOf(frame.Session().Memory());

    QJsonObject root;
    root[QStringLiteral("format")] = 1;
    root[QStringLiteral("sequence")] = static_cast<qint64>(++sequence);
    root[QStringLiteral("closed")] = closed;
    QJsonSink sink(root);
    WriteStatusPicture(picture, sink);
    return QJsonDocument(sink.Root()).toJson(QJsonDocument::Indented);
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
