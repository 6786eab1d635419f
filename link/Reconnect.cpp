// Keeping the port open: link status, news of it, and reconnecting to a lost device.
#include <memory>
#include <utility>

#include "link/CComm.h"
#include "link/LinkDebug.h"

namespace kestrel {

// ---------------------------------------------------------------------------------------
// Keeping the port open

bool CComm::KeepOpenWanted() const {
    std::lock_guard lock(control);
    return keepOpen;
}

LinkStatus CComm::Status() const {
    std::lock_guard lock(control);
    LinkStatus now = status;
    if (now.state == LinkState::Reconnecting) {
        now.nextTry = nextAttempt;
    }
    return now;
}

void CComm::SetStatusLocked(LinkState s, std::string path, int error, std::string detail) {
    if (status.state == s && status.path == path && status.error == error &&
        status.detail == detail) {
        return;  // the same news again, as every failed retry brings: nothing to tell
    }
    status.state = s;
    status.path = std::move(path);
    status.error = error;
    status.detail = std::move(detail);
    ++status.changes;
    newsDue = true;
}

void CComm::TellNews() {
    {
        std::lock_guard lock(control);
        if (!std::exchange(newsDue, false)) {
            return;
        }
    }
    if (linkNews) {
        linkNews();
    }
}

CComm::OpenStart CComm::OpenKeepingOpen(bool retryFailedOpen) {
    const std::string path = DevicePath();
    OpenStart result;
    if (!devices || devices->OpensAtOnce(path)) {
        SetPortOpen(true);
        const bool open = IsPortOpen() != 0;
        std::lock_guard lock(control);
        keepOpen = open || retryFailedOpen;
        everOpened = open;
        retryFirstOpen = retryFailedOpen;
        keepLine = info;
        lostSince = Clock::now();
        nextAttempt = lostSince + retry.first;
        if (open) {
            SetStatusLocked(LinkState::Open, path, 0, {});
            result = OpenStart::Opened;
        } else {
            SetStatusLocked(keepOpen ? LinkState::Reconnecting : LinkState::Closed, path,
                            lastOpenError, lastOpenDetail);
            result = keepOpen ? OpenStart::Retrying : OpenStart::Failed;
        }
    } else {
        // A connection may take seconds: the receive side makes it. Whatever it had, a
        // connection under way included, goes first.
        CloseDevice();
        std::lock_guard lock(control);
        keepOpen = true;
        everOpened = false;
        retryFirstOpen = retryFailedOpen;
        keepLine = info;
        lostSince = nextAttempt = Clock::now();
        SetStatusLocked(LinkState::Connecting, path, 0, {});
        Wake();
        if (running && !PauseWanted()) {
            reactor.Post(linkId);
        }
        result = OpenStart::Connecting;
    }
    TellNews();
    return result;
}

void CComm::DeviceReplaced() {
    {
        std::lock_guard lock(control);
        if (!keepOpen) {
            return;
        }
        // Something is at the path again: look at once. Told before the old device is closed,
        // since the receive thread may open the new one as soon as it is: its "open" must
        // come after this, or the link would stay reconnecting on an open device.
        lostSince = nextAttempt = Clock::now();
        SetStatusLocked(LinkState::Reconnecting, status.path, ENODEV,
                        "another device is at " + status.path + " now");
        Wake();  // the closing below posts a turn, which looks at once
    }
    CloseDevice();
    TellNews();
}

void CComm::LoseDevice(int error) {
    LinkDebug("device gone; looking for it again");
    CloseDevice();
    {
        std::lock_guard lock(control);
        if (!keepOpen) {
            return;
        }
        lostSince = Clock::now();
        nextAttempt = lostSince + retry.first;
        SetStatusLocked(LinkState::Reconnecting, status.path, error, "the device hung up");
    }
    TellNews();
}

void CComm::ReconnectStep() {
    std::string path;
    CommInfo line;
    {
        std::lock_guard lock(control);
        if (const auto now = Clock::now(); now < nextAttempt) {
            reactor.At(linkId, nextAttempt);  // nothing runs for this link until then
            return;
        }
        if (stopRequested || PauseWanted() || !keepOpen) {
            return;
        }
        path = status.path;
        line = keepLine;
    }
    std::unique_ptr<SerialDevice> fresh;
    std::string detail;
    if (!devices || devices->OpensAtOnce(path)) {
        // A local device answers at once: opened in this turn, and a failure costs no more
        // than the failed open.
        const int err = OpenDevice(path, line, -1, fresh, detail);
        OpenedInTurn(path, err, std::move(fresh), detail);
        return;
    }
    // A connection is begun here and watched by the loop until the server answers or refuses
    // or the time is up: an absent server costs no thread. Only a host name to look up takes
    // an opener thread, since the look-up may take seconds.
    fresh = devices->CreateFor(path);
    const int err = fresh ? fresh->BeginOpen(path) : ENODEV;
    if (err == EWOULDBLOCK) {
        OnOpener(path, [this, path, line](std::unique_ptr<SerialDevice>& dev, std::string& why) {
            return OpenDevice(path, line, wakeFd, dev, why);
        });
        return;
    }
    connecting = Connecting{std::move(fresh), path, line};
    Connect(err);
}

void CComm::ContinueConnect(unsigned heard) {
    SerialDevice& dev = *connecting.device;
    const int err = dev.ContinueOpen(heard, Clock::now() >= dev.OpenDeadline());
    // The socket may have failed and been closed, and the next address's may have its number:
    // forgotten without a system call, each is registered anew when it is watched.
    reactor.Unwatch(linkId, true);
    Connect(err);
}

void CComm::Connect(int err) {
    if (err == EINPROGRESS) {
        SerialDevice& dev = *connecting.device;
        reactor.WatchOnce(linkId, dev.ConnectDescriptor(), Reactor::Interest::Writable);
        reactor.At(linkId, dev.OpenDeadline());
        return;
    }
    auto done = std::make_shared<Connecting>(std::exchange(connecting, Connecting{}));
    std::string detail;
    if (err != 0) {
        if (done->device) {
            detail = done->device->FailureDetail();
        }
        OpenedInTurn(done->path, err, nullptr, detail);
        return;
    }
    if (!done->device->FinishesAtOnce()) {
        // A server's negotiation may take seconds.
        OnOpener(done->path, [this, done](std::unique_ptr<SerialDevice>& dev, std::string& why) {
            dev = std::move(done->device);
            dev->SetCancelDescriptor(wakeFd);
            return FinishDevice(done->line, dev, why);
        });
        return;
    }
    err = FinishDevice(done->line, done->device, detail);
    OpenedInTurn(done->path, err, std::move(done->device), detail);
}

int CComm::FinishDevice(const CommInfo& line, std::unique_ptr<SerialDevice>& fresh,
                        std::string& detail) {
    if (const int err = fresh->FinishOpen(); err != 0) {
        detail = fresh->FailureDetail();
        fresh.reset();
        return err;
    }
    return SetUpDevice(line, fresh, detail);
}

void CComm::OpenedInTurn(const std::string& path, int err, std::unique_ptr<SerialDevice> fresh,
                         const std::string& detail) {
    Opened(path, err, std::move(fresh), detail);
    // The next turn serves the new device, or tries again when it is time.
    if (device) {
        reactor.Post(linkId);
        return;
    }
    std::lock_guard lock(control);
    if (keepOpen && !stopRequested) {
        reactor.At(linkId, nextAttempt);
    }
}

void CComm::OnOpener(std::string path, OpenWork work) {
    {
        std::lock_guard lock(control);
        opening = true;
    }
    reactor.Blocking([this, path = std::move(path), work = std::move(work)] {
        // A wake-up from before must not call off the open; one from now on does.
        DrainWake();
        std::unique_ptr<SerialDevice> fresh;
        std::string detail;
        int err = ECANCELED;
        bool wanted;
        {
            std::lock_guard lock(control);
            wanted = !stopRequested && !PauseWanted() && keepOpen;
        }
        if (wanted) {
            err = work(fresh, detail);
        }
        Opened(path, err, std::move(fresh), detail);
        // Once `opening` is clear the host may drop this object: nothing of it is used after.
        Reactor& loop = reactor;
        const Reactor::Id id = linkId;
        {
            std::lock_guard lock(control);
            opening = false;
            changed.notify_all();
        }
        loop.Post(id);
    });
}

// On an opener thread (the host waits for it, `opening` being set, before it touches the
// device) or in a turn.
void CComm::Opened(const std::string& path, int err, std::unique_ptr<SerialDevice> fresh,
                   const std::string& detail) {
    if (fresh) {
        fresh->SetCancelDescriptor(-1);
        // The control lines as SetPortOpen leaves them.
        fresh->SetRts(true);
        fresh->SetDtr(false);
    }
    {
        std::lock_guard lock(control);
        if (!keepOpen || stopRequested) {
            if (fresh) {
                fresh->Close();  // closed by the host while we were opening
            }
        } else if (err == 0 && fresh) {
            {
                std::lock_guard devLock(deviceMutex);
                device = std::move(fresh);
                info.isOpen = 1;
            }
            everOpened = true;
            SetStatusLocked(LinkState::Open, path, 0, {});
            LinkDebug("port open on %s", path.c_str());
        } else if (err == ECANCELED) {
            // A pause or a close wanted the link; the next turn tries again.
        } else if (!everOpened && !retryFirstOpen) {
            keepOpen = false;  // a first open the user waits for: its failure is final
            SetStatusLocked(LinkState::Closed, path, err, detail);
        } else {
            const auto now = Clock::now();
            nextAttempt = now + (now - lostSince < retry.slowAfter ? retry.first : retry.later);
            SetStatusLocked(LinkState::Reconnecting, path, err, detail);
        }
    }
    TellNews();
}

}  // namespace kestrel
