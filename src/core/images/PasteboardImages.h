#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QStringList>

class QMimeData;

// The pasteboard, on Linux: Qt's clipboard and drag-and-drop data
// (QMimeData). Images carried by that data. Only local files and
// image data count: a remote URL is never fetched.
namespace PasteboardImages {

// What the images of a paste or a drop are made of, copied out of the data
// (which lives only as long as the paste or drop): plain values, so that a
// worker thread can read them.
struct Sources {
    QStringList files; // local paths, in order
    QString dataFormat; // an "image/..." format of the data and its bytes
    QByteArray dataBytes;
    QImage image; // image data in Qt's own form (from within this program)

    bool isEmpty() const { return files.isEmpty() && dataBytes.isEmpty() && image.isNull(); }
};

// Whether data carries local files or image data: what a drop takes, and
// what a paste may turn into attachments.
bool mayHoldImages(const QMimeData &data);

// Everything of a drop that may be a picture: its local files and its image
// data.
Sources ofDrop(const QMimeData &data);

// What a paste into the input bar attaches. Files named as pictures win
// (file managers also put the file's path as text); otherwise text wins over
// image data, so that pasting from an application that offers both a
// picture and its text (a browser, an office suite) inserts the text. Empty
// means: paste as text the ordinary way. Looks at names only, never at the
// files, so that it may run on the main thread.
Sources ofPaste(const QMimeData &data);

// The images: those of the files that are readable pictures, in order, and
// only when there are none, the image data. Reads files, which may block:
// call it off the main thread.
QList<QImage> read(const Sources &sources);

} // namespace PasteboardImages
