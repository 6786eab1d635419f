// The store's hold on its database file: locked for this monitor alone, stamped after each
// write, and followed when another program moves, removes, replaces or writes over it.
#include "performance/HistoryStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

namespace kestrel {

namespace {

// The database files this process holds, by device and inode. Closing any descriptor of a
// file drops every POSIX lock the process has on it, SQLite's among them; without its shared
// lock on the database, the next reader to close elsewhere takes the WAL with it. So a store
// refused here never closes its descriptor of a file another store holds: it is parked with
// the holder and closed after it.
struct HeldFiles {
    std::mutex mutex;
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::vector<int>> parked;
};

HeldFiles& Held() {
    static HeldFiles held;
    return held;
}

// Opens (or creates) the file and locks it for this store; -1 with errno set when it cannot,
// EWOULDBLOCK when another store or program holds it. Nothing is written through it: SQLite
// has descriptors of its own.
int HoldFile(const std::string& file, std::pair<std::uint64_t, std::uint64_t>& id) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        errno = error;
        return -1;
    }
    id = {st.st_dev, st.st_ino};
    HeldFiles& held = Held();
    std::lock_guard<std::mutex> hold(held.mutex);
    if (const auto it = held.parked.find(id); it != held.parked.end()) {
        it->second.push_back(fd);
        errno = EWOULDBLOCK;
        return -1;
    }
    // Not held in this process, so no lock of ours goes with this descriptor.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    held.parked[id] = {};
    return fd;
}

// Called once the connection to the file is closed.
void LetGoOfFile(int fd, std::pair<std::uint64_t, std::uint64_t> id) {
    HeldFiles& held = Held();
    std::lock_guard<std::mutex> hold(held.mutex);
    if (const auto it = held.parked.find(id); it != held.parked.end()) {
        for (const int parked : it->second)
            ::close(parked);
        held.parked.erase(it);
    }
    ::close(fd);
}

std::int64_t ModifiedNs(const struct stat& st) {
    return st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
}

// The files SQLite keeps beside the database in WAL mode.
constexpr const char* kCompanions[] = {"-wal", "-shm"};


}  // namespace

// A second monitor on the same line must not mix its figures into ours, whatever name it came
// by, so the database file itself is locked (flock: it goes with the process, and a killed
// monitor never leaves it behind). SQLite's locks cannot say this: they let any number of
// connections write in turn, and an exclusive locking mode would shut out every reader.
// Monitors of earlier releases lock "<name>.lock" instead, so that is locked too, beside the
// name given and beside the file's real name.
bool HistoryStore::TakeFile() {
    std::pair<std::uint64_t, std::uint64_t> id;
    fileFd = HoldFile(path, id);
    fileId = {id.first, id.second};
    bool inUse = fileFd < 0 && errno == EWOULDBLOCK;
    if (fileFd < 0 && !inUse) {
        Report("History database " + path + " cannot be created (" + std::strerror(errno) +
               "); the line's figures and journal are kept in memory only.");
        return false;
    }
    std::error_code ec;
    const std::string real = std::filesystem::canonical(path, ec).string();
    for (const std::string& name : {path + ".lock", ec ? std::string() : real + ".lock"}) {
        if (inUse || name.empty())
            continue;
        // One that cannot be made or locked at all is passed over: an earlier release could
        // not take it either.
        const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        struct stat mine {};
        struct stat first {};
        if (fd >= 0 && !lockFiles.empty() && ::fstat(fd, &mine) == 0 &&
            ::fstat(lockFiles[0], &first) == 0 && mine.st_dev == first.st_dev &&
            mine.st_ino == first.st_ino) {
            ::close(fd);  // the same file by both names
            continue;
        }
        if (fd >= 0)
            lockFiles.push_back(fd);
        inUse = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    }
    if (inUse) {
        Release();
        Report("History database " + path +
               " is in use by another monitor; the line's figures and journal are kept in "
               "memory only.");
        return false;
    }
    return true;
}

void HistoryStore::ReleaseFile() {
    if (fileFd >= 0)
        LetGoOfFile(fileFd, {fileId.dev, fileId.ino});
    fileFd = -1;
    for (const int fd : lockFiles)
        ::close(fd);
    lockFiles.clear();
}

// The WAL and shared memory exist from the first read on; known by identity, they are never
// mistaken for another database's once the name changes hands.
void HistoryStore::NoteCompanions() {
    for (std::size_t i = 0; i < companions.size(); ++i) {
        struct stat st {};
        companions[i].reset();
        if (::stat((path + kCompanions[i]).c_str(), &st) == 0)
            companions[i] = FileId{st.st_dev, st.st_ino};
    }
}

void HistoryStore::Stamp() {
    struct stat own {};
    if (fileFd < 0 || ::fstat(fileFd, &own) != 0)
        return;
    stamp.size = own.st_size;
    stamp.time = ModifiedNs(own);
    stamp.version =
        sqlite3_step(dataVersion) == SQLITE_ROW ? sqlite3_column_int64(dataVersion, 0) : -1;
    sqlite3_reset(dataVersion);  // else its read transaction would stay open
}

bool HistoryStore::FollowPath() {
    if (!displaced && (fileFd < 0 || broken))
        return false;  // nothing held to follow
    struct stat named {};
    const bool hasName = ::stat(path.c_str(), &named) == 0;
    // A name that cannot be looked up for another reason than its absence tells nothing yet.
    if (!hasName && errno != ENOENT && errno != ENOTDIR)
        return false;
    if (displaced) {
        displaced = hasName;
        return !displaced && Renew();
    }
    struct stat own {};
    if (::fstat(fileFd, &own) != 0)
        return false;
    const bool same = hasName && named.st_dev == own.st_dev && named.st_ino == own.st_ino;
    if (same) {
        // Only SQLite writes the file: our own writes (stamped) and commits of other
        // connections (which PRAGMA data_version counts). Anything else wrote over it. The
        // count is asked only when the file changed: asking takes the file's locks.
        if (own.st_size == stamp.size && ModifiedNs(own) == stamp.time)
            return false;
        const Stamped before = stamp;
        Stamp();
        if ((stamp.size == before.size && stamp.time == before.time) ||
            (stamp.version >= 0 && stamp.version != before.version))
            return false;
    }
    const std::string told = "History database " + path;
    const std::string kept =
        " is left as it is, and the line's figures and journal are kept in memory until it is "
        "removed, when a new database is started there with them. Monitoring goes on.";
    const std::string anew =
        " a new one is started there with the figures and journal entries the monitor still "
        "holds. Monitoring goes on.";
    std::string message;
    if (same)
        message = told + " was overwritten by another program; the file" + kept;
    else if (hasName)
        message = told + " was replaced by another file; that file" + kept;
    else if (own.st_nlink > 0)
        message = told + " was moved or renamed; the moved file keeps what was stored, and" + anew;
    else
        message = told + " was removed;" + anew;
    // A file moved away is brought up to date; nothing is ever written into one overwritten.
    if (!hasName && own.st_nlink > 0)
        sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    LetGo();
    if (sink)
        sink(message);
    displaced = hasName;
    return !displaced && Renew();
}

// Closing as the last connection, SQLite would checkpoint into the file and delete the WAL and
// shared memory by their names, which may be another database's by now: it does neither.
// Ours, where the names still lead to them, go, or they would pass for the next database's.
void HistoryStore::LetGo() {
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    Release();
    for (std::size_t i = 0; i < companions.size(); ++i) {
        struct stat st {};
        const std::string name = path + kCompanions[i];
        if (companions[i] && ::stat(name.c_str(), &st) == 0 &&
            *companions[i] == FileId{st.st_dev, st.st_ino})
            ::unlink(name.c_str());
    }
}

bool HistoryStore::Renew() {
    broken = false;
    reported = false;
    currentRows = {};
    writtenCarry = {};
    return Start();
}

}  // namespace kestrel
