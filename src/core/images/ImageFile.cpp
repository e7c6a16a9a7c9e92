#include "core/images/ImageFile.h"

#include "core/images/ImageLog.h"
#include "core/images/ImageTools.h"

#include <QFile>
#include <QImageReader>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace ImageFile {

struct Stall::State {
    std::mutex mutex;
    std::condition_variable opened;
    bool released = false;
    int waiting = 0;
    int finished = 0;

    void pass()
    {
        std::unique_lock lock(mutex);
        ++waiting;
        opened.wait(lock, [this] { return released; });
        --waiting;
    }
    void finish()
    {
        const std::lock_guard lock(mutex);
        ++finished;
    }
};

namespace {

std::mutex stallMutex;
std::shared_ptr<Stall::State> currentStall;

std::shared_ptr<Stall::State> stall()
{
    const std::lock_guard lock(stallMutex);
    return currentStall;
}

bool isRegular(const struct stat &info)
{
    return S_ISREG(info.st_mode);
}

// Opens path only when it is a regular file: opening a named pipe waits for
// a writer, and a device may never end. The open itself does not block, so
// that a pipe put in the file's place meanwhile cannot hold it either; what
// was opened is checked again.
bool openRegular(const QString &path, QFile &file)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info {
    };
    if (::stat(native.constData(), &info) != 0 || !isRegular(info)) {
        qCInfo(lcImages) << "not a regular file; not read";
        return false;
    }
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (::fstat(fd, &info) != 0 || !isRegular(info)
        || !file.open(fd, QIODevice::ReadOnly, QFile::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

} // namespace

std::optional<QImage> read(const QString &path)
{
    const std::shared_ptr<Stall::State> held = stall();
    if (held)
        held->pass();
    std::optional<QImage> image;
    {
        QFile file;
        if (openRegular(path, file)) {
            QImageReader reader(&file);
            image = ImageTools::read(reader);
        }
    }
    if (held)
        held->finish();
    return image;
}

Stall::Stall()
    : m_state(std::make_shared<State>())
{
    const std::lock_guard lock(stallMutex);
    Q_ASSERT(!currentStall);
    currentStall = m_state;
}

Stall::~Stall()
{
    {
        const std::lock_guard lock(stallMutex);
        currentStall.reset();
    }
    release();
}

void Stall::release()
{
    const std::lock_guard lock(m_state->mutex);
    m_state->released = true;
    m_state->opened.notify_all();
}

int Stall::waiting() const
{
    const std::lock_guard lock(m_state->mutex);
    return m_state->waiting;
}

int Stall::finished() const
{
    const std::lock_guard lock(m_state->mutex);
    return m_state->finished;
}

} // namespace ImageFile
