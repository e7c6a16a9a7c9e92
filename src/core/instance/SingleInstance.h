#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// One running Tolvi per user. The first process listens on a local socket;
// a later one asks it to show its window and steps aside. A socket file left
// behind by a process that died without closing it is recognised (nobody
// answers on it) and replaced.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // The per-user socket: inside XDG_RUNTIME_DIR when there is one, otherwise
    // in the temporary folder with the user id in the name.
    static QString defaultServerName();

    explicit SingleInstance(QObject *parent = nullptr);
    SingleInstance(const QString &serverName, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this process is now the one instance (also when the socket
    // could not be opened: Tolvi then runs unreachable rather than not at
    // all). False when another live instance took the request to show
    // itself; the caller then exits with status 0.
    bool tryBecomePrimary();
    bool isListening() const;
    QString serverName() const { return m_serverName; }
    // How long a connected client may stay silent before it is dropped.
    void setIdleClientTimeout(int ms) { m_idleClientMs = ms; }

Q_SIGNALS:
    // A later instance asked this one to show its window.
    void showRequested();

private:
    bool askRunningInstanceToShow();
    bool listen();
    void acceptConnections();
    void readRequest(QLocalSocket *socket);

    QString m_serverName;
    QLocalServer *m_server = nullptr;
    QString m_listenError; // why the last listen() failed
    int m_idleClientMs = 5000;
};
