#include "UnixSignalWatcher.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace fernpoint {
namespace {

// One watcher per process: a signal handler can reach only globals.
int g_sockets[2] = {-1, -1};

extern "C" void forwardSignal(int signalNumber) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_sockets[0], &byte, 1);
    errno = savedErrno;
}

void setHandler(void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

} // namespace

UnixSignalWatcher::UnixSignalWatcher(QObject* parent)
    : QObject(parent) {
    if (g_sockets[0] >= 0 ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_sockets) != 0)
        return;
    m_notifier = new QSocketNotifier(g_sockets[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &UnixSignalWatcher::onReadable);
    setHandler(forwardSignal);
}

UnixSignalWatcher::~UnixSignalWatcher() {
    if (!m_notifier)
        return;
    setHandler(SIG_DFL);
    delete m_notifier;
    ::close(g_sockets[0]);
    ::close(g_sockets[1]);
    g_sockets[0] = g_sockets[1] = -1;
}

void UnixSignalWatcher::exitEventLoopOnTermination() {
    auto* watcher = new UnixSignalWatcher(QCoreApplication::instance());
    // exit() rather than quit(): quit() first asks every window to close, and a window that only
    // hides refuses.
    connect(watcher, &UnixSignalWatcher::signalReceived, watcher,
            [] { QCoreApplication::exit(0); });
}

void UnixSignalWatcher::onReadable() {
    unsigned char byte = 0;
    while (::read(g_sockets[1], &byte, 1) == 1)
        Q_EMIT signalReceived(byte);
}

} // namespace fernpoint
