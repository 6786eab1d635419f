// The links' event loop: epoll for descriptors, a timer set for the waits, a queue of posts.
#include "link/Reactor.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "link/LinkDebug.h"

namespace kestrel {

namespace {

// Slow opens (a connection that takes up to its answer limit) run here. A few are enough: an
// open that is not answered is called off by its link's pause or close, and a refused one
// ends at once.
constexpr int kMaxOpeners = 4;
// How far above normal the loop asks to run; the soft RLIMIT_NICE decides what it gets.
constexpr int kWantedNice = -10;
constexpr int kEventsPerWait = 256;
// An event names its client and the registration it belongs to.
constexpr int kGenerationBits = 24;
constexpr std::uint64_t kGenerationMask = (std::uint64_t{1} << kGenerationBits) - 1;
// What a turn must hear of besides the interest itself.
constexpr std::uint32_t kTrouble = EPOLLHUP | EPOLLERR;

// A raised priority keeps the input queues drained while the desktop is busy. Only what the
// system grants without privileges is asked for, and a refusal is fine; never a real-time
// class, which could starve the desktop if something went wrong here.
void RaiseThreadPriority() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NICE, &limit) != 0) {
        return;
    }
    // RLIMIT_NICE n allows a nice value down to 20 - n.
    int floor = limit.rlim_cur == RLIM_INFINITY ? -20 : 20 - static_cast<int>(limit.rlim_cur);
    errno = 0;
    int current = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
    if (errno != 0) {
        return;
    }
    int wanted = std::max(floor, kWantedNice);
    if (wanted < current &&
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), wanted) == 0) {
        LinkDebug("link loop runs at nice %d", wanted);
    }
}

}  // namespace

Reactor& Reactor::Shared() {
    // Never destroyed: links may still be closing while static objects go at exit.
    static Reactor* const shared = new Reactor;
    return *shared;
}

Reactor::Reactor()
    : epollFd(::epoll_create1(EPOLL_CLOEXEC)), wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (epollFd < 0 || wakeFd < 0) {
        LinkDebug("no event loop: %s", std::strerror(errno));
        return;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = 0;  // client ids start at 1
    ::epoll_ctl(epollFd, EPOLL_CTL_ADD, wakeFd, &ev);
}

Reactor::Id Reactor::Add(Turn turn) {
    std::lock_guard lock(mutex);
    if (!started) {
        started = true;
        std::thread loop([this] { Loop(); });
        loopThread.store(loop.get_id());
        loop.detach();
    }
    const Id id = nextId++;
    clients[id].turn = std::make_shared<Turn>(std::move(turn));
    return id;
}

void Reactor::Remove(Id id) {
    std::unique_lock lock(mutex);
    if (!OnLoopThread()) {
        idle.wait(lock, [&] { return runningId != id; });
    }
    auto it = clients.find(id);
    if (it == clients.end()) {
        return;
    }
    if (it->second.fd >= 0) {
        ::epoll_ctl(epollFd, EPOLL_CTL_DEL, it->second.fd, nullptr);
    }
    timers.erase({it->second.timer, id});
    clients.erase(it);
}

void Reactor::WatchOnce(Id id, int fd, Interest interest) {
    std::lock_guard lock(mutex);
    auto it = clients.find(id);
    if (it == clients.end() || fd < 0) {
        return;
    }
    Client& c = it->second;
    const std::uint32_t wanted = interest == Interest::Readable ? EPOLLIN : EPOLLOUT;
    if (c.fd == fd && c.interest == wanted) {
        // Registered already: nothing to tell epoll. What came meanwhile is served at once;
        // the turn looks for itself, since a read in between may have taken it.
        if (c.pending != 0) {
            c.pending = 0;
            c.armed = false;
            PostLocked(id);
        } else {
            c.armed = true;
        }
        return;
    }
    ++c.generation;
    epoll_event ev{};
    ev.events = wanted | EPOLLET;
    ev.data.u64 = (id << kGenerationBits) | (c.generation & kGenerationMask);
    // The same descriptor with another interest is changed; a new one (the old was forgotten
    // before it was closed) is added. A descriptor closed behind our back left epoll by itself;
    // one forgotten without telling epoll may still be in it.
    int op = c.fd == fd ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
    if (::epoll_ctl(epollFd, op, fd, &ev) != 0) {
        op = errno == ENOENT ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
        if (::epoll_ctl(epollFd, op, fd, &ev) != 0) {
            LinkDebug("cannot watch descriptor %d: %s", fd, std::strerror(errno));
        }
    }
    // Registering looks at the descriptor: one that is ready already gives an event at once.
    c.fd = fd;
    c.interest = wanted;
    c.armed = true;
    c.pending = 0;
}

void Reactor::Unwatch(Id id, bool maybeClosed) {
    std::lock_guard lock(mutex);
    auto it = clients.find(id);
    if (it == clients.end() || it->second.fd < 0) {
        return;
    }
    if (!maybeClosed) {
        ::epoll_ctl(epollFd, EPOLL_CTL_DEL, it->second.fd, nullptr);
    }
    it->second.fd = -1;
    it->second.interest = 0;
    it->second.armed = false;
    it->second.pending = 0;
}

void Reactor::Post(Id id) {
    std::lock_guard lock(mutex);
    PostLocked(id);
}

void Reactor::PostLocked(Id id) {
    posted.push_back(id);
    if (!OnLoopThread()) {
        WakeLoop();
    }
}

void Reactor::At(Id id, Clock::time_point when) {
    bool earliest;
    {
        std::lock_guard lock(mutex);
        auto it = clients.find(id);
        if (it == clients.end()) {
            return;
        }
        timers.erase({it->second.timer, id});
        it->second.timer = when;
        timers.insert({when, id});
        earliest = timers.begin()->second == id;
    }
    if (earliest && !OnLoopThread()) {
        WakeLoop();  // the loop may be waiting for a later time
    }
}

void Reactor::WakeLoop() {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t r = ::write(wakeFd, &one, sizeof one);
}

void Reactor::Blocking(std::function<void()> job) {
    std::lock_guard lock(mutex);
    jobs.push_back(std::move(job));
    if (idleOpeners == 0 && openers < kMaxOpeners) {
        ++openers;
        std::thread([this] { Opener(); }).detach();
    }
    jobsChanged.notify_one();
}

void Reactor::Opener() {
    std::unique_lock lock(mutex);
    for (;;) {
        ++idleOpeners;
        jobsChanged.wait(lock, [&] { return !jobs.empty(); });
        --idleOpeners;
        auto job = std::move(jobs.front());
        jobs.pop_front();
        lock.unlock();
        job();
        lock.lock();
    }
}

int Reactor::ThreadCount() const {
    std::lock_guard lock(mutex);
    return (started ? 1 : 0) + openers;
}

void Reactor::Loop() {
    RaiseThreadPriority();
    epoll_event events[kEventsPerWait];
    std::vector<std::pair<Id, std::uint32_t>> due;  // a client and the events it hears of
    for (;;) {
        int timeout = -1;
        {
            std::lock_guard lock(mutex);
            if (!posted.empty()) {
                timeout = 0;
            } else if (!timers.empty()) {
                // Rounded up: waking a little early would only mean waiting again.
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                    timers.begin()->first - Clock::now());
                timeout = static_cast<int>(std::clamp<long long>(left.count(), 0, 60'000));
            }
        }
        const int n = ::epoll_wait(epollFd, events, kEventsPerWait, timeout);
        due.clear();
        std::unique_lock lock(mutex);
        for (int i = 0; i < n; ++i) {
            // Copied out: epoll_event is packed, so its members are not aligned for a reference.
            const std::uint64_t key = events[i].data.u64;
            const std::uint32_t what = events[i].events;
            if (key == 0) {
                std::uint64_t value;
                [[maybe_unused]] ssize_t r = ::read(wakeFd, &value, sizeof value);
                continue;
            }
            const Id id = key >> kGenerationBits;
            auto it = clients.find(id);
            if (it == clients.end() || it->second.fd < 0 ||
                (it->second.generation & kGenerationMask) != (key & kGenerationMask)) {
                continue;  // a descriptor forgotten since
            }
            Client& c = it->second;
            const std::uint32_t heard = what & (c.interest | kTrouble);
            if (c.armed) {
                c.armed = false;
                due.emplace_back(id, heard);
            } else {
                c.pending |= heard;
            }
        }
        const auto now = Clock::now();
        while (!timers.empty() && timers.begin()->first <= now) {
            const Id id = timers.begin()->second;
            timers.erase(timers.begin());
            if (auto it = clients.find(id); it != clients.end()) {
                it->second.timer = Clock::time_point::max();
            }
            due.emplace_back(id, 0);
        }
        for (const Id id : posted) {
            due.emplace_back(id, 0);
        }
        posted.clear();
        // One turn per client, with every event it was due for.
        std::sort(due.begin(), due.end());
        std::size_t kept = 0;
        for (std::size_t i = 0; i < due.size(); ++i) {
            if (kept > 0 && due[kept - 1].first == due[i].first) {
                due[kept - 1].second |= due[i].second;
            } else {
                due[kept++] = due[i];
            }
        }
        due.resize(kept);
        for (const auto& [id, heard] : due) {
            auto it = clients.find(id);
            if (it == clients.end()) {
                continue;  // removed since
            }
            const std::shared_ptr<Turn> turn = it->second.turn;
            runningId = id;
            lock.unlock();
            (*turn)(heard);
            lock.lock();
            runningId = 0;
            idle.notify_all();
        }
    }
}

}  // namespace kestrel
