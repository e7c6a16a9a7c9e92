#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QStringList>

// Clients for the loopback listener's tests: raw sockets, curl, and checks of
// the listening sockets themselves.
namespace authtest {

struct RawExchange {
    bool connected = false;
    QByteArray answer; // everything the server sent
    bool closedByServer = false;
};

// Connects, sends each piece in its own flushed write (letting the event loop
// run between them, so that they tend to arrive apart), then reads until the
// server closes. An empty piece list sends nothing.
RawExchange sendRaw(const QHostAddress &address, quint16 port, const QList<QByteArray> &pieces);

// Whether a TCP connection to address:port is accepted.
bool accepts(const QHostAddress &address, quint16 port);

struct CurlResult {
    int exitCode = -1;
    QByteArray output; // with -i: the head and the body as received
};
// Runs curl with these arguments, the event loop turning meanwhile.
CurlResult curl(const QStringList &arguments);

// Local addresses of every listening TCP socket on port, from /proc/net.
QStringList listeningAddresses(quint16 port);

bool systemHasIPv6Loopback();

// The exact responses the listener must send.
QByteArray expectedSignedInResponse();
QByteArray expectedNotFoundResponse();

} // namespace authtest
