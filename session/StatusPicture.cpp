// The members of the status pictures, in one order for the window and the headless monitor.
#include "session/StatusPicture.h"

#include "performance/LineMemory.h"
#include "session/Indications.h"

namespace kestrel {

LineReport LineReportOf(const LineMemory& memory) {
    LineReport r;
    r.seen = !memory.UnseenSince();
    r.unknownSince = memory.UnseenSince();
    for (int s = 0; s < kFirstLinkState; ++s) {
        if (memory.IsOn(s)) {
            r.objects.push_back(JournalObjectName(s));
        }
    }
    return r;
}

void WriteStatusPicture(const StatusPicture& picture, StatusPictureSink& sink) {
    sink.Open("panes");
    for (std::size_t i = 0; i < kStatusPanes.size(); ++i) {
        if (picture.panes[i]) {
            sink.Text(kStatusPanes[i].key, *picture.panes[i]);
        }
    }
    sink.Close();
    sink.Number("frameCount", picture.frameCount);
    if (picture.bytesDropped) {
        sink.Number("bytesDropped", *picture.bytesDropped);
    }
    sink.Open("alarmLeds");
    for (std::size_t i = 0; i < kAlarmIndications.size(); ++i) {
        sink.Text(std::to_string(kAlarmIndications[i].ledId), picture.alarmLeds[i]);
    }
    sink.Close();
    static constexpr const char* kRowKeys[] = {"localNoSig", "localCErr", "remoteNoSig",
                                               "remoteCErr"};
    sink.Open("tributaryLeds");
    for (std::size_t i = 0; i < picture.tributaryRows.size(); ++i) {
        sink.Text(kRowKeys[i], picture.tributaryRows[i]);
    }
    sink.Close();
    static constexpr const char* kBerKeys[] = {"nearTotal", "nearIntermediate", "farTotal",
                                               "farIntermediate"};
    sink.Open("ber");
    for (std::size_t i = 0; i < picture.ber.size(); ++i) {
        sink.Text(kBerKeys[i], picture.ber[i]);
    }
    sink.Close();
    sink.Flag("statistics", picture.statistics);
    if (picture.line) {
        sink.Open("line");
        sink.Flag("seen", picture.line->seen);
        if (picture.line->unknownSince) {
            sink.Text("unknownSince", IsoUtc(*picture.line->unknownSince));
        }
        sink.Open(picture.line->seen ? "on" : "unknown");
        for (const std::string& object : picture.line->objects) {
            sink.Flag(object, true);
        }
        sink.Close();
        sink.Close();
    }
}

}  // namespace kestrel
