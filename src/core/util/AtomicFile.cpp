#include "core/util/AtomicFile.h"

#include <QSaveFile>

namespace AtomicFile {

namespace {

QString reasonOf(const QSaveFile &file)
{
    const QString reason = file.errorString();
    return reason.isEmpty() || reason == QLatin1String("Unknown error")
        ? QStringLiteral("The file could not be written.")
        : reason;
}

} // namespace

std::optional<QString> write(const QString &path, const QByteArray &bytes, const QDateTime &modified,
    const std::function<void()> &beforeCommit)
{
    // Unbuffered, so that a short write shows: through its buffer, a save
    // file cut short by a size limit still commits and reports success.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return reasonOf(file);
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 step = file.write(bytes.constData() + written, bytes.size() - written);
        if (step <= 0)
            return reasonOf(file); // the temporary goes with `file`
        written += step;
    }
    file.setFileTime(modified, QFileDevice::FileModificationTime);
    if (beforeCommit)
        beforeCommit();
    if (!file.commit())
        return reasonOf(file);
    return std::nullopt;
}

} // namespace AtomicFile
