#pragma once

#include <QScrollArea>
#include <QStringList>

class DataURLImage;
class QHBoxLayout;

// The images waiting to be sent: a row of rounded thumbnails, each with a
// button at its top-right corner that removes it. The row scrolls
// sideways when it does not fit, without scroll bars.
class AttachmentStrip : public QScrollArea
{
    Q_OBJECT
public:
    explicit AttachmentStrip(QWidget *parent = nullptr);

    // Shows these data URLs in order. A thumbnail whose image stays in the
    // list is kept, so it is not decoded again when others come or go.
    void setAttachments(const QStringList &urls);

    QList<DataURLImage *> thumbnails() const;

Q_SIGNALS:
    void removeRequested(int index);

private:
    QWidget *makeThumbnail(const QString &url);

    QHBoxLayout *m_row;
    QList<QWidget *> m_tiles; // in the order shown
};
