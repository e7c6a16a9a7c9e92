#pragma once

#include "ConversationHarness.h"
#include "ui/input/InputBar.h"

#include <QColor>
#include <QImage>
#include <QTemporaryDir>
#include <QWidget>
#include <memory>

class QMimeData;

namespace inputkit {

QImage filled(const QSize &size, QColor colour);
// Writes a PNG of size and colour into dir; returns its path.
QString writePng(const QTemporaryDir &dir, const QString &name, const QSize &size, QColor colour);
// "data:image/<format>;base64,..." of image in that format.
QString dataURL(const QImage &image, const char *format = "PNG");
// Mime data carrying these local files as URLs.
std::unique_ptr<QMimeData> filesMime(const QStringList &paths);

// The input bar in a window of its own, over the whole conversation stack
// (a fake service, a store in a temporary folder, a ranker, the controller).
class BarFixture
{
public:
    explicit BarFixture(int width = 480);

    // Shows the window and waits until it is active.
    bool showActive();
    // Types text into the editor, one key at a time (Shift-Return for "\n").
    void type(const QString &text);
    // Lays the window out as it would be before painting.
    void settle();
    // Saves a picture of the window when TOLVI_GRAB_DIR names a folder.
    void grabTo(const QString &name);

    convkit::Harness h;
    QTemporaryDir files;
    QWidget window;
    InputBar *bar = nullptr;
};

} // namespace inputkit
