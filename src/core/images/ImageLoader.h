#pragma once

#include "core/images/PasteboardImages.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <map>
#include <memory>

// Reads the images of pastes and drops off the main thread, so that a slow
// or stalled file system never holds up the window, and hands them back on
// the owner's thread in the order they were given. Each load reads on a
// thread of its own. Destroying the loader never waits: a read still running
// (one on a network mount that stopped answering cannot be interrupted) ends
// on its own and delivers nothing.
class ImageLoader : public QObject
{
    Q_OBJECT
public:
    explicit ImageLoader(QObject *parent = nullptr);
    ~ImageLoader() override;

    void load(const PasteboardImages::Sources &sources);
    // Loads not yet delivered.
    int pending() const { return int(m_nextLoad - m_nextDelivery); }

Q_SIGNALS:
    // The images of one load, in order; empty when it held none.
    void loaded(const QList<QImage> &images);

private:
    void arrived(quint64 load, const QList<QImage> &images);

    struct Mailbox;
    std::shared_ptr<Mailbox> m_mailbox; // shared with the reading threads
    quint64 m_nextLoad = 0;
    quint64 m_nextDelivery = 0;
    std::map<quint64, QList<QImage>> m_early; // read before an earlier load
};
