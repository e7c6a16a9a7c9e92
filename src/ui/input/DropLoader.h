#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QThreadPool>

class QMimeData;

// Reads the images of what is dropped on the input bar. What may be dropped
// is decided at once; the files are decoded on a worker thread, one drop
// after the other, and the images of each drop come back in order on the
// owner's thread. A remote URL is never fetched.
class DropLoader : public QObject
{
    Q_OBJECT
public:
    explicit DropLoader(QObject *parent = nullptr);
    ~DropLoader() override;

    // Whether data carries local files or image data.
    static bool accepts(const QMimeData &data);

    // Copies what the images are made of out of data (valid only during the
    // drop) and decodes it in the background.
    void load(const QMimeData &data);
    // Drops still being decoded.
    int pending() const { return m_pending; }

Q_SIGNALS:
    // The images of one drop, in order; empty when it held none.
    void loaded(const QList<QImage> &images);

private:
    QThreadPool m_pool;
    int m_pending = 0;
};
