#include "link/posix/TermiosPort.h"

// The kernel's termios2 interface (any baud rate through BOTHER); the libc
// <termios.h> cannot be included next to it.
#include <asm/termbits.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace kyvo {

namespace {

std::uint32_t openErrorCode(int err) {
    switch (err) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
        case ENOTDIR:
        case ENOTTY:
        case EISDIR:
            return kErrPortMissing;
        case EBUSY:
        case EWOULDBLOCK:
            return kErrPortInUse;
        case EACCES:
        case EPERM:
            return kErrPortNotPermitted;
        default:
            return kErrPortFailure;
    }
}

std::uint32_t errnoCode(int err) {
    return err > 0 ? static_cast<std::uint32_t>(err) : EIO;
}

}  // namespace

std::shared_ptr<TermiosPort> TermiosPort::open(const std::string& path, std::uint32_t& error) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = openErrorCode(errno);
        return nullptr;
    }
    // Only a terminal is a port: anything else typed into the port box is
    // refused before a byte is written to it.
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        ::close(fd);
        error = kErrPortMissing;
        return nullptr;
    }
    // TIOCEXCL keeps other programs out but not root; the lock also covers
    // every opener that asks for it, this program included.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno;
        ::close(fd);
        error = err == EWOULDBLOCK ? kErrPortInUse : openErrorCode(err);
        return nullptr;
    }
    ioctl(fd, TIOCEXCL);
    error = 0;
    return std::shared_ptr<TermiosPort>(new TermiosPort(fd, path));
}

TermiosPort::~TermiosPort() {
    if (fd_ >= 0) close();
}

std::uint32_t TermiosPort::configure(const tLineSettings& s, bool dtr, bool rts) {
    setLine(s);
    setDTR(dtr);
    setRTS(rts);
    return 0;
}

void TermiosPort::setLine(const tLineSettings& s) {
    struct termios2 tio {};
    // As with the line settings of a COM port, failures to read or write them
    // are not errors: a pseudo-terminal ignores most of them.
    ioctl(fd_, TCGETS2, &tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | IXON | IXOFF | IXANY | INPCK | IUCLC);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS |
                                          CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
    switch (s.dataBits) {
        case 5:
            tio.c_cflag |= CS5;
            break;
        case 6:
            tio.c_cflag |= CS6;
            break;
        case 7:
            tio.c_cflag |= CS7;
            break;
        default:
            tio.c_cflag |= CS8;
            break;
    }
    switch (s.parity) {
        case FT_PARITY_ODD:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case FT_PARITY_EVEN:
            tio.c_cflag |= PARENB;
            break;
        case FT_PARITY_MARK:
            tio.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case FT_PARITY_SPACE:
            tio.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    // No 1.5 stop bits here; the UART gives 1.5 for CSTOPB on 5-bit words.
    if (s.stopBits != FT_STOP_BITS_1) tio.c_cflag |= CSTOPB;
    const auto baud = static_cast<speed_t>(std::max<std::int32_t>(s.baudRate, 0));
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ioctl(fd_, TCSETS2, &tio);
}

std::uint32_t TermiosPort::modemLine(int bit, bool on) {
    int bits = bit;
    if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) == 0) return 0;
    // Pseudo-terminals and some adapters have no modem lines.
    if (errno == ENOTTY || errno == EINVAL) return 0;
    return errnoCode(errno);
}

std::uint32_t TermiosPort::setDTR(bool on) {
    return modemLine(TIOCM_DTR, on);
}
std::uint32_t TermiosPort::setRTS(bool on) {
    return modemLine(TIOCM_RTS, on);
}

bool TermiosPort::getModemStatus(std::uint32_t& bits) {
    int lines = 0;
    if (ioctl(fd_, TIOCMGET, &lines) != 0) return false;
    bits = 0;
    if (lines & TIOCM_CTS) bits |= kModemCTS;
    if (lines & TIOCM_DSR) bits |= kModemDSR;
    if (lines & TIOCM_RNG) bits |= kModemRI;
    if (lines & TIOCM_CAR) bits |= kModemRLSD;
    return true;
}

void TermiosPort::purge(bool tx, bool rx) {
    if (tx) ioctl(fd_, TCFLSH, TCOFLUSH);
    if (rx) ioctl(fd_, TCFLSH, TCIFLUSH);
}

bool TermiosPort::bytesWaiting(std::uint32_t& n, std::uint32_t& error) {
    int waiting = 0;
    n = 0;
    if (ioctl(fd_, FIONREAD, &waiting) != 0) {
        // A tty the kernel hung up answers every ioctl with EIO.
        if (errno == EIO || errno == ENXIO || errno == ENODEV) hungUp_.store(true);
        error = errnoCode(errno);
        return false;
    }
    if (waiting == 0) {
        // A hung-up line (the other end of a pseudo-terminal closed, a cable
        // pulled) can still answer FIONREAD; poll tells.
        struct pollfd p {
            fd_, POLLIN, 0
        };
        if (poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            hungUp_.store(true);
            error = EIO;
            return false;
        }
    }
    n = static_cast<std::uint32_t>(std::max(waiting, 0));
    error = 0;
    return true;
}

std::uint32_t TermiosPort::readWaiting(std::uint8_t* buf, std::uint32_t maxLen,
                                       std::uint32_t& len) {
    len = 0;
    std::uint32_t waiting = 0, error = 0;
    if (!bytesWaiting(waiting, error)) return error;
    std::uint32_t want = std::min(waiting, maxLen);
    if (want == 0) return 0;
    ssize_t got = ::read(fd_, buf, want);
    if (got > 0) {
        len = static_cast<std::uint32_t>(got);
        return 0;
    }
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    // End of file on a tty, or EIO: the line has gone.
    if (got == 0 || errno == EIO || errno == ENXIO || errno == ENODEV) hungUp_.store(true);
    return got == 0 ? EIO : errnoCode(errno);
}

std::uint32_t TermiosPort::outputQueued() {
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0) return 0;
    return static_cast<std::uint32_t>(std::max(queued, 0));
}

bool TermiosPort::readyToSend() {
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0) return false;
    return queued == 0;
}

std::uint32_t TermiosPort::write(const std::uint8_t* buf, std::uint32_t len,
                                 std::uint32_t& written) {
    using Clock = std::chrono::steady_clock;
    written = 0;
    auto lastProgress = Clock::now();
    // The chunk is written whole, as a synchronous write would; the wait
    // ends when the line stops taking bytes or the port is being closed.
    while (written < len && !cancelled_.load()) {
        ssize_t n = ::write(fd_, buf + written, len - written);
        if (n > 0) {
            written += static_cast<std::uint32_t>(n);
            lastProgress = Clock::now();
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return errnoCode(errno);
        auto stalled =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastProgress);
        if (stalled.count() >= stallTimeoutMs_) break;
        struct pollfd p {
            fd_, POLLOUT, 0
        };
        int slice = std::min<int>(20, stallTimeoutMs_ - static_cast<int>(stalled.count()));
        if (poll(&p, 1, std::max(slice, 1)) > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
            return EIO;
    }
    return 0;
}

void TermiosPort::requestLowLatency() {
    struct serial_struct ss {};
    if (ioctl(fd_, TIOCGSERIAL, &ss) != 0) return;
    if (ss.flags & ASYNC_LOW_LATENCY) return;
    ss.flags |= ASYNC_LOW_LATENCY;
    ioctl(fd_, TIOCSSERIAL, &ss);
}

std::uint32_t TermiosPort::close() {
    if (fd_ < 0) return 0;
    ioctl(fd_, TIOCNXCL);
    int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : errnoCode(errno);
}

}  // namespace kyvo
