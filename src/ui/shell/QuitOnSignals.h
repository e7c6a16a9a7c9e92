#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (the session ending, a service manager
// stopping Tolvi, Ctrl+C in a terminal) into an ordinary quit of the event
// loop, so that the chats still queued for writing reach the disk. The
// signal handler only writes a byte to a socket; the quit happens on the
// main thread. One per process.
class QuitOnSignals : public QObject
{
    Q_OBJECT
public:
    explicit QuitOnSignals(QObject *parent = nullptr);
    ~QuitOnSignals() override;

    bool isInstalled() const { return m_notifier != nullptr; }

private:
    static void handle(int signal);
    void quit();

    QSocketNotifier *m_notifier = nullptr;
};
