#include "ui/shell/QuitOnSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int wakeFds[2] = { -1, -1 };
constexpr int handledSignals[] = { SIGTERM, SIGINT, SIGHUP };

} // namespace

QuitOnSignals::QuitOnSignals(QObject *parent)
    : QObject(parent)
{
    if (wakeFds[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wakeFds) != 0)
        return;
    for (int fd : wakeFds)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitOnSignals::quit);

    struct sigaction action = {};
    action.sa_handler = &QuitOnSignals::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : handledSignals)
        ::sigaction(signal, &action, nullptr);
}

QuitOnSignals::~QuitOnSignals()
{
    if (!m_notifier)
        return;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signal : handledSignals)
        ::sigaction(signal, &action, nullptr);
    delete m_notifier;
    ::close(wakeFds[0]);
    ::close(wakeFds[1]);
    wakeFds[0] = wakeFds[1] = -1;
}

void QuitOnSignals::handle(int)
{
    const char byte = 1;
    // Only async-signal-safe calls here; a full socket already holds a wake-up.
    [[maybe_unused]] const ssize_t written = ::write(wakeFds[1], &byte, 1);
}

void QuitOnSignals::quit()
{
    char bytes[16];
    while (::read(wakeFds[0], bytes, sizeof bytes) > 0) { }
    QCoreApplication::quit();
}
