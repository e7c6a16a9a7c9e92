#include "core/images/ImageLoader.h"

#include "core/images/ImageLog.h"

#include <QPointer>
#include <mutex>
#include <system_error>
#include <thread>

// Where a reading thread leaves its images. The loader empties `owner` when
// it goes; a thread that finishes later finds nobody and delivers nothing.
struct ImageLoader::Mailbox {
    std::mutex mutex;
    ImageLoader *owner = nullptr;

    void post(quint64 load, const QList<QImage> &images)
    {
        const std::lock_guard lock(mutex);
        if (!owner)
            return;
        // Posted while the owner is alive; Qt drops the call should the
        // owner be destroyed before it runs.
        QMetaObject::invokeMethod(
            owner, [owner = owner, load, images] { owner->arrived(load, images); }, Qt::QueuedConnection);
    }
};

ImageLoader::ImageLoader(QObject *parent)
    : QObject(parent)
    , m_mailbox(std::make_shared<Mailbox>())
{
    m_mailbox->owner = this;
}

ImageLoader::~ImageLoader()
{
    const std::lock_guard lock(m_mailbox->mutex);
    m_mailbox->owner = nullptr;
}

void ImageLoader::load(const PasteboardImages::Sources &sources)
{
    const quint64 load = m_nextLoad++;
    try {
        // Detached, never joined: a read stuck in the file system cannot be
        // stopped, and joining it would hold up quitting.
        std::thread([mailbox = m_mailbox, load, sources] {
            mailbox->post(load, PasteboardImages::read(sources));
        }).detach();
    } catch (const std::system_error &error) {
        qCWarning(lcImages) << "no thread to read pasted or dropped images:" << error.what();
        m_mailbox->post(load, {});
    }
}

void ImageLoader::arrived(quint64 load, const QList<QImage> &images)
{
    m_early.emplace(load, images);
    // Emitting may run anything, this loader's end included: take each
    // result out before it is delivered, and stop once this is gone.
    const QPointer<ImageLoader> alive(this);
    while (alive) {
        const auto next = m_early.find(m_nextDelivery);
        if (next == m_early.end())
            return;
        const QList<QImage> ready = std::move(next->second);
        m_early.erase(next);
        ++m_nextDelivery;
        Q_EMIT loaded(ready);
    }
}
