#include "core/export/ChatExport.h"

#include "core/export/AnswerEnd.h"
#include "core/export/ExportLog.h"
#include "core/images/DataURL.h"
#include "core/util/AtomicFile.h"

#include <QDir>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QPromise>
#include <QThreadPool>
#include <QUrl>
#include <memory>

namespace {

QString imageName(int number)
{
    return QStringLiteral("image-%1.jpg").arg(number);
}

// Titles, model names and notes are plain text: characters Markdown would
// read as markup are escaped so that they show as typed.
QString plain(const QString &text)
{
    static const QString special = QStringLiteral("\\`*_[]<>#|~!");
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (special.contains(c))
            out += QLatin1Char('\\');
        out += c == QLatin1Char('\n') ? QLatin1Char(' ') : c;
    }
    return out.trimmed();
}

QString author(const ChatMessage &message)
{
    if (message.role == QLatin1String("user"))
        return QStringLiteral("You");
    if (message.answeredBy && !message.answeredBy->trimmed().isEmpty())
        return *message.answeredBy;
    return QStringLiteral("Assistant");
}

// The model's reasoning as a quotation, set apart from the answer it led to.
QString quoted(const QString &text)
{
    QStringList lines = text.trimmed().split(QLatin1Char('\n'));
    for (QString &line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        line.prepend(QStringLiteral("> "));
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

namespace ChatExport {

QString imagesFolder(const QString &markdownPath)
{
    const QFileInfo file(markdownPath);
    return file.dir().filePath(file.completeBaseName() + QStringLiteral("-images"));
}

QString markdown(const Chat &chat, const QString &imagesFolderName)
{
    const QString folderLink = QString::fromLatin1(QUrl::toPercentEncoding(imagesFolderName));
    QStringList parts{ QStringLiteral("# ") + plain(chat.title) };
    int imageNumber = 0;
    for (const ChatMessage &message : chat.messages) {
        parts << QStringLiteral("## ") + plain(author(message));
        if (message.note && !message.note->trimmed().isEmpty())
            parts << QLatin1Char('*') + plain(*message.note) + QLatin1Char('*');
        if (message.reasoning && !message.reasoning->trimmed().isEmpty())
            parts << quoted(*message.reasoning);
        if (!message.text.trimmed().isEmpty())
            parts << message.text.trimmed();
        if (message.cut)
            parts << QLatin1Char('*') + plain(AnswerEnd::words(*message.cut)) + QLatin1Char('*');
        for (const QString &image : message.images) {
            if (!DataURL::jpeg(image)) {
                parts << QStringLiteral("*(A picture that could not be exported.)*");
                continue;
            }
            const QString name = imageName(++imageNumber);
            parts << QStringLiteral("![%1](%2/%1)").arg(name, folderLink);
        }
    }
    return parts.join(QStringLiteral("\n\n")) + QLatin1Char('\n');
}

std::optional<QString> write(const Chat &chat, const QString &markdownPath)
{
    const QString folder = imagesFolder(markdownPath);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    int imageNumber = 0;
    for (const ChatMessage &message : chat.messages) {
        for (const QString &image : message.images) {
            const std::optional<QByteArray> bytes = DataURL::jpeg(image);
            if (!bytes)
                continue;
            if (imageNumber == 0 && !QDir().mkpath(folder)) {
                qCWarning(lcExport) << "could not make the pictures' folder";
                return QStringLiteral("The folder “%1” could not be made.").arg(QFileInfo(folder).fileName());
            }
            const QString name = imageName(++imageNumber);
            if (const auto failure = AtomicFile::write(QDir(folder).filePath(name), *bytes, now)) {
                qCWarning(lcExport) << "could not write a picture:" << *failure;
                return QStringLiteral("The picture “%1” could not be saved: %2").arg(name, *failure);
            }
        }
    }
    const QByteArray text = markdown(chat, QFileInfo(folder).fileName()).toUtf8();
    if (const auto failure = AtomicFile::write(markdownPath, text, now)) {
        qCWarning(lcExport) << "could not write the Markdown file:" << *failure;
        return QStringLiteral("The file “%1” could not be saved: %2")
            .arg(QFileInfo(markdownPath).fileName(), *failure);
    }
    return std::nullopt;
}

void start(const Chat &chat, const QString &markdownPath, QObject *context,
    std::function<void(std::optional<QString> failure)> done)
{
    using Result = std::optional<QString>;
    auto promise = std::make_shared<QPromise<Result>>();
    // The watcher belongs to context: once context is gone, nothing is
    // delivered. The global pool finishes a running export before Tolvi
    // ends, so a file is never left half written.
    auto *watcher = new QFutureWatcher<Result>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, watcher, [watcher, done = std::move(done)] {
        done(watcher->future().result());
        watcher->deleteLater();
    });
    watcher->setFuture(promise->future());
    QThreadPool::globalInstance()->start([promise, chat, markdownPath] {
        promise->start();
        promise->addResult(write(chat, markdownPath));
        promise->finish();
    });
}

} // namespace ChatExport
