#pragma once

#include <QImage>
#include <QObject>
#include <QStringList>

// The images waiting to be sent with the next message, as image data URLs,
// in the order they were added: at most four. Main thread only.
class Attachments : public QObject
{
    Q_OBJECT
public:
    static constexpr int maxCount = 4;

    using QObject::QObject;

    const QStringList &urls() const { return m_urls; }
    bool isEmpty() const { return m_urls.isEmpty(); }

    // Adds an image, scaled and encoded; false, and nothing added, when
    // four are waiting already or the image cannot be encoded.
    bool add(const QImage &image);
    // false when there is no such attachment.
    bool removeAt(int index);
    void clear();

Q_SIGNALS:
    void changed();

private:
    void set(const QStringList &urls);

    QStringList m_urls;
};
