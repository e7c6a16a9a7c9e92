#pragma once

#include <QImage>
#include <QList>

class QMimeData;

// Images carried by clipboard or drag-and-drop data. Only local files and
// image data count: a remote URL is never fetched.
namespace PasteboardImages {

// The images of data: those of its local file URLs that are readable images
// (turned upright, in order); only when there are none, the image data it
// carries itself. Empty when it holds neither. Used for drops.
QList<QImage> read(const QMimeData &data);

// What a paste into the input bar attaches. Image files win (file managers
// also put the file's path as text); otherwise text wins over image data, so
// that pasting from an application that offers both a picture and its text
// (a browser, an office suite) inserts the text. Empty means: paste as text
// the ordinary way.
QList<QImage> forPaste(const QMimeData &data);

} // namespace PasteboardImages
