#include "ShellTestKit.h"

#include "TestSupport.h"

#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPixmap>
#include <QWidget>

namespace shelltest {

namespace {

QString withoutMnemonic(QString text)
{
    return text.remove(QLatin1Char('&'));
}

QStringList texts(const QWidget *root, bool visibleOnly)
{
    QStringList texts;
    for (const QWidget *widget : root->findChildren<QWidget *>()) {
        if (visibleOnly && !widget->isVisible())
            continue;
        if (const auto *label = qobject_cast<const QLabel *>(widget); label && !label->text().isEmpty())
            texts.append(label->text());
        else if (const auto *button = qobject_cast<const QAbstractButton *>(widget);
                 button && !button->text().isEmpty())
            texts.append(withoutMnemonic(button->text()));
        else if (const auto *field = qobject_cast<const QLineEdit *>(widget);
                 field && !field->placeholderText().isEmpty())
            texts.append(field->placeholderText());
    }
    return texts;
}

} // namespace

QStringList visibleTexts(const QWidget *root)
{
    return texts(root, true);
}

QStringList allTexts(const QWidget *root)
{
    QStringList all = texts(root, false);
    for (const QMenu *menu : root->findChildren<QMenu *>()) {
        all.append(withoutMnemonic(menu->title()));
        for (const QAction *action : menu->actions())
            all.append(withoutMnemonic(action->text()));
    }
    return all;
}

void roundTrip(const QUrl &url)
{
    QNetworkAccessManager network;
    QNetworkReply *reply = network.get(QNetworkRequest(url));
    QVERIFY(testsupport::waitFor([reply] { return reply->isFinished(); }));
    reply->deleteLater();
}

void saveScreenshot(QWidget *root, const QString &name)
{
    const QString dir = qEnvironmentVariable("TOLVI_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    root->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

} // namespace shelltest
