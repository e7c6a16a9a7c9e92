#pragma once

#include "core/records/ChatRecords.h"

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

// A chat as a Markdown file a person can keep: the title as a heading, each
// message under a heading that says who wrote it (an answer with the model's
// reasoning quoted before it and, when it was cut short, why, after it), and
// the pictures as "image-1.jpg", "image-2.jpg", ... in a folder
// "<file name>-images" beside the file, linked from it.
namespace ChatExport {

// The folder for the pictures of a Markdown file at markdownPath.
QString imagesFolder(const QString &markdownPath);

// The Markdown text, linking pictures into the folder named imagesFolderName
// (relative to the file). Pictures that are not stored JPEG data are left
// out and said to be.
QString markdown(const Chat &chat, const QString &imagesFolderName);

// Writes the pictures, then the Markdown file (atomically). On failure
// returns the system's reason in plain words; a file that was there before
// is then unchanged.
std::optional<QString> write(const Chat &chat, const QString &markdownPath);

// write() on a thread of its own; done gets its result on context's thread,
// and never once context is gone.
void start(const Chat &chat, const QString &markdownPath, QObject *context,
    std::function<void(std::optional<QString> failure)> done);

} // namespace ChatExport
