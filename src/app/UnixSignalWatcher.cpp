#include "app/UnixSignalWatcher.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int s_fds[2] = { -1, -1 };

extern "C" void forwardSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const auto written = ::write(s_fds[0], &byte, 1);
    errno = savedErrno;
}
} // namespace

UnixSignalWatcher::UnixSignalWatcher(QObject *parent)
    : QObject(parent)
{
    if (s_fds[0] != -1 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, s_fds) != 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(s_fds[1], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &UnixSignalWatcher::handleNotifierActivated);

    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : { SIGTERM, SIGINT, SIGHUP }) {
        if (::sigaction(signalNumber, &action, nullptr) == 0)
            m_signals.append(signalNumber);
    }
}

UnixSignalWatcher::~UnixSignalWatcher()
{
    if (!m_notifier)
        return;
    for (const int signalNumber : m_signals)
        ::signal(signalNumber, SIG_DFL);
    m_notifier.reset();
    ::close(s_fds[0]);
    ::close(s_fds[1]);
    s_fds[0] = s_fds[1] = -1;
}

void UnixSignalWatcher::handleNotifierActivated()
{
    unsigned char byte = 0;
    while (::read(s_fds[1], &byte, 1) == 1)
        emit signalReceived(byte);
}
