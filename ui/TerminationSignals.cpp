#include "ui/TerminationSignals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace kyvo {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP};

// The write end for the handler; -1 while no instance is installed.
volatile std::sig_atomic_t signalWriteFd = -1;

extern "C" void onTerminationSignal(int sig) {
    const int saved = errno;
    const int fd = signalWriteFd;
    if (fd >= 0) {
        const unsigned char number = static_cast<unsigned char>(sig);
        // A full pipe already holds a signal to act on: losing this one is fine.
        [[maybe_unused]] const ssize_t n = ::write(fd, &number, 1);
    }
    errno = saved;
}

}  // namespace

bool TTerminationSignals::install(std::function<void(int)> onSignal) {
    if (fds_[0] >= 0 || signalWriteFd >= 0) return false;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds_) != 0) {
        fds_[0] = fds_[1] = -1;
        return false;
    }
    onSignal_ = std::move(onSignal);
    notifier_ = std::make_unique<QSocketNotifier>(fds_[1], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { drain(); });
    signalWriteFd = fds_[0];
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : kSignals)
        if (::sigaction(sig, &action, nullptr) != 0) return false;
    return true;
}

void TTerminationSignals::drain() {
    unsigned char numbers[16];
    for (;;) {
        const ssize_t n = ::read(fds_[1], numbers, sizeof numbers);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        // However many arrived, the program ends once.
        if (onSignal_) onSignal_(numbers[0]);
        return;
    }
}

TTerminationSignals::~TTerminationSignals() {
    if (fds_[0] < 0) return;
    for (int sig : kSignals) std::signal(sig, SIG_DFL);
    signalWriteFd = -1;
    notifier_.reset();
    ::close(fds_[0]);
    ::close(fds_[1]);
}

}  // namespace kyvo
