#include "cli/TerminationSignals.h"

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace korvo {
namespace {

constexpr std::array<int, 2> kSignals = {SIGINT, SIGTERM};

// The pipe's ends; the write end is all the handler touches.
int readEnd = -1;
volatile sig_atomic_t writeEnd = -1;
std::array<struct sigaction, kSignals.size()> previousActions{};

void onSignal(int signalNumber) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds an undelivered stop; losing this one changes nothing.
    [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
    errno = savedErrno;
}

bool makeNonBlockingAndCloseOnExec(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
           ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

void closePipe() {
    for (int fd : {readEnd, static_cast<int>(writeEnd)}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    readEnd = -1;
    writeEnd = -1;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (readEnd >= 0) {
        return; // another object listens already
    }
    int ends[2];
    if (::pipe(ends) != 0) {
        return;
    }
    readEnd = ends[0];
    writeEnd = ends[1];
    if (!makeNonBlockingAndCloseOnExec(ends[0]) || !makeNonBlockingAndCloseOnExec(ends[1])) {
        closePipe();
        return;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls of other threads resume instead of failing with EINTR.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], &action, &previousActions[i]);
    }
    notifier_ = new QSocketNotifier(readEnd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::readPending);
}

TerminationSignals::~TerminationSignals() {
    if (notifier_ == nullptr) {
        return;
    }
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], &previousActions[i], nullptr);
    }
    delete notifier_;
    closePipe();
}

void TerminationSignals::readPending() {
    unsigned char byte = 0;
    while (::read(readEnd, &byte, 1) == 1) {
        Q_EMIT received(byte);
    }
}

} // namespace korvo
