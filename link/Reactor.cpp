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

Reactor::Id Reactor::Add(std::function<void()> turn) {
    std::lock_guard lock(mutex);
    if (!started) {
        started = true;
        std::thread loop([this] { Loop(); });
        loopThread.store(loop.get_id());
        loop.detach();
    }
    const Id id = nextId++;
    clients[id].turn = std::make_shared<std::function<void()>>(std::move(turn));
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

void Reactor::WatchOnce(Id id, int fd) {
    std::lock_guard lock(mutex);
    auto it = clients.find(id);
    if (it == clients.end() || fd < 0) {
        return;
    }
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLONESHOT;
    ev.data.u64 = id;
    // The same descriptor is armed again; a new one (the old was forgotten before it was
    // closed) is added. A descriptor closed behind our back left epoll by itself.
    int op = it->second.fd == fd ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
    if (::epoll_ctl(epollFd, op, fd, &ev) != 0) {
        op = errno == ENOENT ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
        if (::epoll_ctl(epollFd, op, fd, &ev) != 0) {
            LinkDebug("cannot watch descriptor %d: %s", fd, std::strerror(errno));
        }
    }
    it->second.fd = fd;
}

void Reactor::Unwatch(Id id) {
    std::lock_guard lock(mutex);
    auto it = clients.find(id);
    if (it == clients.end() || it->second.fd < 0) {
        return;
    }
    ::epoll_ctl(epollFd, EPOLL_CTL_DEL, it->second.fd, nullptr);
    it->second.fd = -1;
}

void Reactor::Post(Id id) {
    {
        std::lock_guard lock(mutex);
        posted.push_back(id);
    }
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
    std::vector<Id> due;
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
        for (int i = 0; i < n; ++i) {
            // Copied out: epoll_event is packed, so its member is not aligned for a reference.
            const Id id = events[i].data.u64;
            if (id == 0) {
                std::uint64_t value;
                [[maybe_unused]] ssize_t r = ::read(wakeFd, &value, sizeof value);
            } else {
                due.push_back(id);
            }
        }
        {
            std::lock_guard lock(mutex);
            const auto now = Clock::now();
            while (!timers.empty() && timers.begin()->first <= now) {
                const Id id = timers.begin()->second;
                timers.erase(timers.begin());
                if (auto it = clients.find(id); it != clients.end()) {
                    it->second.timer = Clock::time_point::max();
                }
                due.push_back(id);
            }
            due.insert(due.end(), posted.begin(), posted.end());
            posted.clear();
        }
        std::sort(due.begin(), due.end());
        due.erase(std::unique(due.begin(), due.end()), due.end());
        for (const Id id : due) {
            std::shared_ptr<std::function<void()>> turn;
            {
                std::lock_guard lock(mutex);
                auto it = clients.find(id);
                if (it == clients.end()) {
                    continue;  // removed since
                }
                turn = it->second.turn;
                runningId = id;
            }
            (*turn)();
            std::lock_guard lock(mutex);
            runningId = 0;
            idle.notify_all();
        }
    }
}

}  // namespace kestrel
