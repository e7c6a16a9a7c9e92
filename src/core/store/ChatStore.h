#pragma once

#include "core/records/ChatRecords.h"
#include "core/store/StoreTask.h"

#include <QHash>
#include <QObject>
#include <QThread>
#include <functional>
#include <optional>

class StoreWriter;

// Keeps the chats on disk: one JSON file per chat plus "index.json", in
// <AppPaths::dir()>/chats. Publishes the list of summaries, newest first.
// Every file write and delete runs on one worker thread, "tolvi.store.io", in
// the order of the calls; the main thread only copies values and queues work.
// At most 200 chats are kept.
//
// A chat whose file could not be written stays in memory (listed, and
// loadable) with the reason, until a later write of it lands; every later
// save, and retryFailedSaves(), tries it again.
class ChatStore : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<ChatSummary> summaries READ summaries NOTIFY summariesChanged)

public:
    static constexpr int maxChats = 200;

    // Start-up's read of the default chats folder (the index and the
    // folder's listing) on a thread of its own. main() begins it before the
    // application object, whose making mostly waits for the display; the
    // next store made on that folder takes what it found instead of reading
    // again. Going, it waits for the thread, which so never outlives main().
    class ReadAhead
    {
    public:
        ReadAhead();
        ~ReadAhead();
        ReadAhead(const ReadAhead &) = delete;
        ReadAhead &operator=(const ReadAhead &) = delete;
    };

    // Commit: the bytes are in the temporary, which is not yet moved into place.
    enum class FileOp { write, commit, remove };
    using FileObserver = std::function<void(FileOp op, const QString &path)>;

    // Loads the index from dir (default: AppPaths::dir() + "/chats"). When the
    // index is missing or damaged, the list is rebuilt from the chat files.
    explicit ChatStore(QObject *parent = nullptr);
    explicit ChatStore(const QString &dir, QObject *parent = nullptr);
    // Test seam: observer runs on the writer thread before each file operation,
    // from the start-up's own on.
    ChatStore(const QString &dir, FileObserver observer, QObject *parent = nullptr);
    ~ChatStore() override; // drains the writer

    const QList<ChatSummary> &summaries() const { return m_summaries; }
    QString dir() const { return m_dir; }
    QString indexPath() const;
    QString chatPath(const QUuid &id) const;

    // Stores a copy of chat with `updated` set to now. A chat without
    // messages is never written.
    void save(const Chat &chat);
    // Forgets the chat and deletes its file.
    void remove(const QUuid &id);
    // The newest saved version of a chat: the one still waiting in the write
    // queue or kept after a failed write, else the file's. Nothing when
    // neither decodes, or when the chat was removed.
    std::optional<Chat> load(const QUuid &id) const;

    // Why the last write of that chat failed, when it has not landed since.
    std::optional<QString> saveFailure(const QUuid &id) const;
    // The chats whose newest state is not (or not yet) in their file: queued,
    // or kept after a failed write.
    QList<Chat> unwrittenChats() const;
    // Writes every chat whose last write failed again.
    void retryFailedSaves();

    // Blocks until every queued task has run, and takes in what came of them.
    // For shutdown and tests.
    void drain();

    // Test seam: from the next queued task on, observer runs on the writer
    // thread before each file operation.
    void setFileObserver(FileObserver observer);

Q_SIGNALS:
    void summariesChanged();
    void saveFailuresChanged();
    // Each chat as stored, and each chat no longer kept (removed, or evicted
    // beyond the cap), after the list changed: for those who follow the
    // chats' contents, such as search.
    void chatStored(const Chat &chat);
    void chatRemoved(const QUuid &id);

private:
    // A chat whose newest state is still in the queue: the copy being
    // written, or nothing when its file is about to be deleted.
    struct Pending {
        std::optional<Chat> chat;
        quint64 task = 0;
    };

    void startWriter(FileObserver observer);
    void loadIndex();
    void releaseStartupTask();
    quint64 enqueue(StoreTask task);
    QList<Chat> retries(const QUuid &except) const;
    bool forgetUnsaved(const QList<QUuid> &ids);
    void takeOutcomes();
    bool apply(const StoreOutcome &outcome);
    bool keepUnsaved(quint64 task, const UnsavedChat &unsaved);
    void dropUnreadable(const QList<QUuid> &ids);
    void forgetWrittenUpTo(quint64 task);

    QString m_dir;
    QList<ChatSummary> m_summaries;
    QHash<QUuid, Pending> m_pending;
    QHash<QUuid, UnsavedChat> m_unsaved;
    // What start-up found for the writer to do (see loadIndex), until it is
    // queued: after a pause, or ahead of any other task or drain().
    std::optional<StoreTask> m_startupTask;
    quint64 m_lastTask = 0;
    QThread m_thread;
    StoreWriter *m_writer = nullptr;
};
