#pragma once

#include <QImage>
#include <QString>
#include <memory>
#include <optional>

// Reads pictures from files that a person pasted or dropped. A path may name
// a named pipe, a device, or a file on a network mount that has stopped
// answering: only regular files are read, and a read may block for as long
// as the file system does, so it belongs on a worker thread.
namespace ImageFile {

// The picture in the regular file at path, reduced and upright
// (ImageTools::read), or nothing when path is not a regular file (or a link
// to one) holding a readable image.
std::optional<QImage> read(const QString &path);

// A test seam that stands in for a file system that stopped answering:
// while a Stall exists, every read() waits at its start, before it touches
// the file, until release() or the Stall's end. One at a time.
class Stall
{
public:
    Stall();
    ~Stall();
    Stall(const Stall &) = delete;
    Stall &operator=(const Stall &) = delete;

    void release();
    // Reads waiting at the stall now.
    int waiting() const;
    // Reads that have returned since the stall began.
    int finished() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace ImageFile
