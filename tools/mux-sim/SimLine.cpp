// The simulator's end of the serial line: a new pseudo-terminal pair or a given device.
#include "tools/mux-sim/SimLine.h"

#include <errno.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

namespace kestrel::sim {

namespace {

void MakeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        return;
    }
    cfmakeraw(&t);
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSTOPB | PARENB);
    tcsetattr(fd, TCSANOW, &t);
}

}  // namespace

bool SimLine::OpenPty(std::string& error) {
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    const char* name = ttyname(slave);
    if (name == nullptr) {
        error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        ::close(master);
        ::close(slave);
        return false;
    }
    path = name;
    MakeRaw(slave);
    MakeRaw(master);
    // Writes must never wait for a monitor that is not reading.
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    fd = master;
    // Holding the monitor's side open ourselves keeps the line configured and alive while
    // monitors come and go, so writes never meet a hung-up terminal.
    keepOpen = slave;
    return true;
}

bool SimLine::OpenDevice(const std::string& devicePath, std::string& error) {
    int f = ::open(devicePath.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (f < 0) {
        error = "cannot open " + devicePath + ": " + std::strerror(errno);
        return false;
    }
    if (isatty(f) && tcgetattr(f, &saved) == 0) {
        restoreTermios = true;
        MakeRaw(f);
    }
    fd = f;
    path = devicePath;
    return true;
}

std::size_t SimLine::WriteSome(std::string_view data, bool& hardError) {
    hardError = false;
    std::size_t done = 0;
    while (done < data.size() && fd >= 0) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        }
        // EIO from a hung-up line, EPIPE from a pipe without reader, and the like.
        hardError = true;
        break;
    }
    return done;
}

long SimLine::Unread() const {
    int n = 0;
    if (keepOpen >= 0 && ioctl(keepOpen, FIONREAD, &n) == 0) {
        return n;
    }
    if (restoreTermios && ioctl(fd, TIOCOUTQ, &n) == 0) {
        return n;
    }
    return -1;
}

void SimLine::Close() {
    if (fd >= 0 && restoreTermios) {
        tcsetattr(fd, TCSANOW, &saved);
        restoreTermios = false;
    }
    if (keepOpen >= 0) {
        ::close(keepOpen);
        keepOpen = -1;
    }
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace kestrel::sim
