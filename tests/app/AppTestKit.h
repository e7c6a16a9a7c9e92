#pragma once

// Shared pieces of the application model's tests: a stand-in for the
// browser, the Secret Service as secret-tool sees it, and look-ups over the
// files Tolvi writes.
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <optional>

class Keyring;

namespace apptest {

// Receives the URLs that QDesktopServices would hand to the user's browser
// (registered for "http", the fake's scheme).
class FakeBrowser : public QObject
{
    Q_OBJECT
public:
    // follow: load the page, following the fake's redirect to the callback,
    // as a browser does once the user approved; record: only note the URL.
    enum class Act { follow, record };
    Act act = Act::follow;
    QList<QUrl> opened;
    QPointer<QNetworkReply> pageReply;

    // Loads url now, following redirects; the reply is kept in pageReply.
    void load(const QUrl &url);
    // The callback URL that the sign-in page of the first opened URL names.
    QUrl callbackUrl() const;

public Q_SLOTS:
    void open(const QUrl &url);

private:
    QNetworkAccessManager m_network;
};

// The key as "secret-tool lookup" prints it (empty when there is none).
QString secretToolLookup();

// Waits until every call queued on keyring so far has run: calls run in
// order, so a read queued now answers after them.
void catchUp(Keyring &keyring);

// Waits until the Secret Service holds key (nothing: no key), as work still
// queued on some keyring lands.
bool waitForStoredKey(const std::optional<QString> &key);

// Relative paths of the files under dir (recursively) whose bytes contain
// needle.
QStringList filesContaining(const QString &dir, const QByteArray &needle);

// Waits until a GET of url has been answered, whatever the answer; requests
// the code under test sent earlier have reached the server by then.
void roundTrip(const QUrl &url);

} // namespace apptest
