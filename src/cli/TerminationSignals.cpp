#include "cli/TerminationSignals.h"

#include <QSocketNotifier>
#include <csignal>
#include <unistd.h>

#if defined(__linux__)
#include <sys/signalfd.h>
#endif

namespace korvo {
namespace {

sigset_t terminationSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

void TerminationSignals::blockInThisProcess() {
    const sigset_t set = terminationSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
#if defined(__linux__)
    const sigset_t set = terminationSet();
    fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
#else
    // Other systems: kqueue's EVFILT_SIGNAL would take this place; without it the signals keep
    // their default action.
#endif
    if (fd_ < 0) {
        const sigset_t set = terminationSet();
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        return;
    }
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::readPending);
}

TerminationSignals::~TerminationSignals() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void TerminationSignals::readPending() {
#if defined(__linux__)
    signalfd_siginfo info{};
    while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        Q_EMIT received(static_cast<int>(info.ssi_signo));
    }
#endif
}

} // namespace korvo
