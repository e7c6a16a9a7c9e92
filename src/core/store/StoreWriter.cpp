#include "store/StoreWriter.h"

#include <QFile>
#include <QSaveFile>

void StoreWriter::run(quint64 id, const Task &task)
{
    task(*this);
    Q_EMIT taskDone(id);
}

void StoreWriter::writeFile(const QString &path, const QByteArray &bytes)
{
    if (m_observer)
        m_observer(ChatStore::FileOp::Write, path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(bytes);
    file.commit();
}

void StoreWriter::removeFile(const QString &path)
{
    if (m_observer)
        m_observer(ChatStore::FileOp::Remove, path);
    QFile::remove(path);
}
