#pragma once

#include "store/ChatStore.h"

#include <QObject>
#include <functional>

// Lives on the store's worker thread and performs its file work there. Each
// queued task ends with taskDone, so the store knows which writes have landed.
class StoreWriter : public QObject
{
    Q_OBJECT

public:
    using Task = std::function<void(StoreWriter &)>;

    void run(quint64 id, const Task &task);
    void setObserver(ChatStore::FileObserver observer) { m_observer = std::move(observer); }

    // Atomic replacement through a temporary beside the target; a failure
    // leaves the previous file in place.
    void writeFile(const QString &path, const QByteArray &bytes);
    void removeFile(const QString &path);

Q_SIGNALS:
    void taskDone(quint64 id);

private:
    ChatStore::FileObserver m_observer;
};
