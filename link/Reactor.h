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
// its descriptor is readable, when its timer is due, or when someone posted to it; the client
// works out from its own state what is to be done. Turns run one at a time on the loop's
// thread, so a turn must never block for long: opens that take a connection go to the small
// pool of opener threads instead.
class Reactor {
public:
    using Clock = std::chrono::steady_clock;
    using Id = std::uint64_t;

    // The process's loop; its thread starts with the first client and runs until exit.
    static Reactor& Shared();

    // A new client; no turn is called before something asks for one.
    Id Add(std::function<void()> turn);
    // After this returns the client's turn is not running (unless the caller is that turn)
    // and is never called again.
    void Remove(Id id);
    // One turn once `fd` is readable or hung up (one-shot: ask again for the next).
    void WatchOnce(Id id, int fd);
    // Forgets the client's descriptor, before it is closed.
    void Unwatch(Id id);
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

    struct Client {
        std::shared_ptr<std::function<void()>> turn;
        int fd = -1;  // registered with epoll
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
