#include "AuthTestTools.h"

#include "TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace authtest {

RawExchange sendRaw(const QHostAddress &address, quint16 port, const QList<QByteArray> &pieces)
{
    RawExchange result;
    QTcpSocket socket;
    socket.connectToHost(address, port);
    testsupport::waitFor([&] {
        return socket.state() != QAbstractSocket::ConnectingState
            && socket.state() != QAbstractSocket::HostLookupState;
    });
    result.connected = socket.state() == QAbstractSocket::ConnectedState;
    if (!result.connected)
        return result;
    for (const QByteArray &piece : pieces) {
        socket.write(piece);
        socket.flush();
        // Not needed for correctness: only makes separate arrival likely.
        QTest::qWait(30);
    }
    result.closedByServer = testsupport::waitFor([&] {
        result.answer += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
    });
    result.answer += socket.readAll();
    return result;
}

bool accepts(const QHostAddress &address, quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(address, port);
    testsupport::waitFor([&] {
        return socket.state() != QAbstractSocket::ConnectingState
            && socket.state() != QAbstractSocket::HostLookupState;
    });
    const bool accepted = socket.state() == QAbstractSocket::ConnectedState;
    socket.abort();
    return accepted;
}

CurlResult curl(const QStringList &arguments)
{
    QProcess process;
    process.start(
        QStringLiteral("curl"), QStringList{ "--silent", "--show-error", "--noproxy", "*" } + arguments);
    if (!process.waitForStarted(30000))
        return {};
    // No waitForFinished: the server under test needs the event loop.
    testsupport::waitFor([&] { return process.state() == QProcess::NotRunning; }, 60000);
    return { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        process.readAllStandardOutput() };
}

namespace {

bool isLoopbackHex(const QByteArray &hexAddress)
{
    if (hexAddress.size() == 8) // IPv4, little-endian words: 127.x.x.x ends in 7F
        return hexAddress.endsWith("7F");
    return hexAddress == "00000000000000000000000001000000"; // ::1
}

} // namespace

QStringList listeningAddresses(quint16 port)
{
    QStringList addresses;
    const QByteArray portHex = QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const char *table : { "/proc/net/tcp", "/proc/net/tcp6" }) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        file.readLine(); // column names
        while (!file.atEnd()) {
            const QList<QByteArray> fields = file.readLine().simplified().split(' ');
            if (fields.size() < 4 || fields.at(3) != "0A") // 0A: LISTEN
                continue;
            const QList<QByteArray> local = fields.at(1).split(':');
            if (local.size() == 2 && local.at(1) == portHex)
                addresses.append(QString::fromLatin1(isLoopbackHex(local.at(0)) ? "loopback:" : "OTHER:")
                    + QString::fromLatin1(local.at(0)));
        }
    }
    return addresses;
}

bool systemHasIPv6Loopback()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHostIPv6, 0);
}

QByteArray expectedSignedInResponse()
{
    const QByteArray body
        = "<!doctype html><html><head><meta charset=\"utf-8\"><title>Tolvi</title><style>"
          "body{font-family:-apple-system,system-ui,sans-serif;display:flex;height:100vh;margin:0;align-"
          "items:center;"
          "justify-content:center;background:#f5f5f7;color:#1d1d1f}@media(prefers-color-scheme:dark){body{"
          "background:#1c1c1e;color:#f5f5f7}}div{text-align:center}h1{font-weight:600;font-size:28px}p{"
          "opacity:.7}"
          "</style></head><body><div><h1>You are signed in</h1><p>You can close this browser tab and return "
          "to "
          "Tolvi.</p></div></body></html>";
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

QByteArray expectedNotFoundResponse()
{
    return "HTTP/1.1 404 Not Found\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: 35\r\n"
           "Connection: close\r\n\r\n<html><body>Not found</body></html>";
}

} // namespace authtest
