// kestrel-history's commands: the database found and opened, rows chosen, entries acknowledged.
#include "tools/history/History.h"

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "files/RegularFile.h"
#include "performance/HistoryStore.h"
#include "performance/Report.h"
#include "tools/history/HistoryArguments.h"
#include "tools/history/HistoryOutput.h"

namespace kestrel {

namespace {

// The single database in the default folder, or an explanation.
std::string DefaultDatabase(std::string& error) {
    const auto folder = std::filesystem::path(DefaultHistoryPath("x")).parent_path();
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
        if (e.path().extension() == ".sqlite")
            found.push_back(e.path().string());
    }
    if (found.size() == 1)
        return found.front();
    error = found.empty() ? "no database in " + folder.string() + "; name one with --db"
                          : "several databases in " + folder.string() + "; name one with --db";
    return {};
}

// Acknowledges the entries named, or all that nobody has; tells how many, and for each id
// named what kept it from being acknowledged now.
int Acknowledge(HistoryStore& store, const HistoryArgs& args, std::time_t now, std::ostream& out,
                std::ostream& err) {
    JournalQuery query;
    query.ids = args.ids;
    if (args.all) {
        query.objects = args.journalObjects;
        query.until = args.before;
        query.unacknowledgedOnly = true;
    }
    const std::vector<JournalEntry> found = store.JournalEntries(query);
    int status = 0;
    for (const std::int64_t id : args.ids) {
        const auto e = std::find_if(found.begin(), found.end(),
                                    [id](const JournalEntry& f) { return f.id == id; });
        if (e == found.end()) {
            err << "kestrel-history: no entry " << id << " in the journal\n";
            status = 1;
        } else if (e->acknowledged) {
            err << "kestrel-history: entry " << id << " was acknowledged at "
                << IsoUtc(*e->acknowledged) << '\n';
        }
    }
    std::vector<std::int64_t> wanted, done;
    for (const JournalEntry& e : found) {
        if (!e.acknowledged)
            wanted.push_back(e.id);
    }
    std::string error;
    const bool ok = store.AcknowledgeJournal(wanted, now, done, error);
    out << "acknowledged " << done.size() << (done.size() == 1 ? " entry\n" : " entries\n");
    if (!ok) {
        err << "kestrel-history: " << store.Path() << ": " << error << '\n';
        return 1;
    }
    return status;
}

}  // namespace

int RunHistory(int argc, char** argv, std::ostream& out, std::ostream& err,
               std::optional<std::time_t> now) {
    HistoryArgs args;
    std::string error;
    if (!now)
        now = std::time(nullptr);
    if (!ParseHistoryArguments(argc, argv, *now, args, error)) {
        err << "kestrel-history: " << error << " (see --help)\n";
        return 2;
    }
    if (args.help) {
        out << kHistoryUsage;
        return 0;
    }
    if (args.version) {
        out << "kestrel-history 1.0\n";
        return 0;
    }
    if (args.db.empty())
        args.db = DefaultDatabase(error);
    // SQLite would wait in its open for a writer to a FIFO, and read a device for ever.
    if (!args.db.empty())
        error = RegularFileFault(args.db, false);
    HistoryStore store;
    if (args.db.empty() || !error.empty() ||
        !(args.command == "ack" ? store.OpenForAcknowledging(args.db, error)
                                : store.OpenReadOnly(args.db, error))) {
        err << "kestrel-history: " << (args.db.empty() ? "" : args.db + ": ") << error << '\n';
        return 1;
    }
    if (args.command == "ack") {
        return Acknowledge(store, args, *now, out, err);
    } else if (args.command == "intervals") {
        std::vector<IntervalRow> rows = store.Intervals(args.kind, std::nullopt, args.since);
        std::erase_if(rows, [&](const IntervalRow& r) {
            return !args.intervalObjects[static_cast<std::size_t>(r.object)] ||
                   (args.until && r.span.start >= *args.until);
        });
        if (args.lines && *args.lines < rows.size())
            rows.erase(rows.begin(), rows.end() - static_cast<std::ptrdiff_t>(*args.lines));
        if (args.reverse)
            std::reverse(rows.begin(), rows.end());
        PrintIntervals(rows, args.format, out);
    } else {
        JournalQuery query;
        query.objects = args.journalObjects;
        query.since = args.since;
        query.until = args.until;
        query.openOnly = args.active;
        query.unacknowledgedOnly = args.unacknowledged;
        query.newest = args.lines;
        std::vector<JournalEntry> entries = store.JournalEntries(query);
        if (args.reverse)
            std::reverse(entries.begin(), entries.end());
        PrintJournal(entries, args.format, out);
    }
    out.flush();
    return out ? 0 : 1;
}

}  // namespace kestrel
