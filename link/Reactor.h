// One event loop over epoll for every link of the process, and a few threads for slow opens.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kestrel {

// A thousand MUXes must not cost a thousand threads and a wake-up each per frame: every link
// is a client of this one loop. A client is one function (its turn) that the loop calls when
// its descriptor is ready, when its timer is due, or when someone posted to it; the client
// works out from its own state what is to be done. Turns run one at a time on the loop's
// thread, so a turn must never block for long: a connection is watched here until it is made,
// and only what may take longer (a name to look up, a server's negotiation) goes to the small
// pool of opener threads.
//
// A descriptor is registered with epoll once, edge-triggered, and the one-shot watch is kept
// here: asking again for the same descriptor costs no system call. Readiness that comes while
// the client is not watching is remembered and gives a turn as soon as it asks again.
class Reactor {
public:
    using Clock = std::chrono::steady_clock;
    using Id = std::uint64_t;
    // The epoll events seen on the client's descriptor since it asked to watch it; 0 when the
    // turn is for a timer or a post only, or for readiness that came while it was not
    // watching (which may be gone by now: the turn looks for itself then).
    using Turn = std::function<void(std::uint32_t events)>;
    enum class Interest { Readable, Writable };

    // The process's loop; its thread starts with the first client and runs until exit.
    static Reactor& Shared();

    // A new client; no turn is called before something asks for one.
    Id Add(Turn turn);
    // After this returns the client's turn is not running (unless the caller is that turn)
    // and is never called again.
    void Remove(Id id);
    // One turn once `fd` is ready (readable, or writable for a connection under way) or hung
    // up; one-shot: ask again for the next.
    void WatchOnce(Id id, int fd, Interest interest = Interest::Readable);
    // Forgets the client's descriptor, before it is closed. With `maybeClosed`, epoll is not
    // told: the descriptor was closed (which took it out of epoll) or may have been, and a
    // later watch of the same number registers it anew either way.
    void Unwatch(Id id, bool maybeClosed = false);
    // One turn soon.
    void Post(Id id);
    // One turn at `when`; replaces an earlier time.
    void At(Id id, Clock::time_point when);
    // Runs `job` on an opener thread.
    void Blocking(std::function<void()> job);
    bool OnLoopThread() const { return std::this_thread::get_id() == loopThread.load(); }
    // Threads the loop and its openers use now.
    int ThreadCount() const;

private:
    Reactor();
    void Loop();
    void Opener();
    void WakeLoop();
    void PostLocked(Id id);

    struct Client {
        std::shared_ptr<Turn> turn;
        int fd = -1;                 // registered with epoll
        std::uint32_t interest = 0;  // the events it is registered for
        // Counts registrations, so that an event of a descriptor since forgotten (collected
        // by the loop just before) is not taken for one of the next.
        std::uint32_t generation = 0;
        bool armed = false;         // a turn is wanted at the next event
        std::uint32_t pending = 0;  // events that came while not armed
        Clock::time_point timer = Clock::time_point::max();
    };

    int epollFd = -1;
    int wakeFd = -1;
    mutable std::mutex mutex;
    std::condition_variable idle;  // a turn ended
    std::unordered_map<Id, Client> clients;
    std::set<std::pair<Clock::time_point, Id>> timers;
    std::vector<Id> posted;
    Id nextId = 1;
    Id runningId = 0;  // the client whose turn runs now
    bool started = false;
    std::atomic<std::thread::id> loopThread{};

    // Opener threads: a few, started as jobs come.
    std::deque<std::function<void()>> jobs;
    std::condition_variable jobsChanged;
    int openers = 0;
    int idleOpeners = 0;
};

}  // namespace kestrel
