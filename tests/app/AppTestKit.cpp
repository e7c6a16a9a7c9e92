#include "AppTestKit.h"

#include "TestSupport.h"
#include "core/auth/KeychainStore.h"
#include "core/auth/Keyring.h"

#include <QDirIterator>
#include <QFile>
#include <QNetworkRequest>
#include <QProcess>
#include <QUrlQuery>

namespace apptest {

void FakeBrowser::load(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    pageReply = m_network.get(request);
}

QUrl FakeBrowser::callbackUrl() const
{
    return QUrl(
        QUrlQuery(opened.value(0)).queryItemValue(QStringLiteral("callback_url"), QUrl::FullyDecoded));
}

void FakeBrowser::open(const QUrl &url)
{
    opened.append(url);
    if (act == Act::follow)
        load(url);
}

QString secretToolLookup()
{
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"),
        { QStringLiteral("lookup"), QStringLiteral("service"), QStringLiteral("com.tolvi.mac.openrouter"),
            QStringLiteral("account"), QStringLiteral("api-key") });
    if (!tool.waitForFinished(-1))
        return QString();
    return QString::fromUtf8(tool.readAllStandardOutput());
}

void catchUp(Keyring &keyring)
{
    bool answered = false;
    QObject::connect(keyring.read(), &KeyReadCall::finished, [&answered] { answered = true; });
    QVERIFY(testsupport::waitFor([&answered] { return answered; }));
}

bool waitForStoredKey(const std::optional<QString> &key)
{
    return testsupport::waitFor([&key] { return KeychainStore::load() == key; });
}

QStringList filesContaining(const QString &dir, const QByteArray &needle)
{
    QStringList found;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(needle))
            found.append(path.mid(dir.size()));
    }
    return found;
}

void roundTrip(const QUrl &url)
{
    QNetworkAccessManager network;
    QNetworkReply *reply = network.get(QNetworkRequest(url));
    QVERIFY(testsupport::waitFor([reply] { return reply->isFinished(); }));
    reply->deleteLater();
}

} // namespace apptest
