#include "ui/shell/AfterFirstPaint.h"

#include <QEvent>
#include <QMetaObject>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace {

// A window that is never exposed (mapped iconic, say) still gets its work.
constexpr int latestMs = 1000;

// Watches the native window: its first expose paints the widgets at once,
// and the work queued from there runs when that paint is done.
class FirstExposeWatcher : public QObject
{
public:
    FirstExposeWatcher(QWidget &window, std::function<void()> work)
        : QObject(&window)
        , m_window(window)
        , m_work(std::move(work))
    {
        window.installEventFilter(this);
        watchNativeWindow();
        QTimer::singleShot(latestMs, this, [this] { finish(); });
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == &m_window && event->type() == QEvent::WinIdChange)
            watchNativeWindow();
        else if (watched != &m_window && event->type() == QEvent::Expose)
            finish();
        return false;
    }

private:
    void watchNativeWindow()
    {
        if (QWindow *native = m_window.windowHandle(); native && native != m_native) {
            native->installEventFilter(this);
            m_native = native;
        }
    }

    void finish()
    {
        if (m_finished)
            return;
        m_finished = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                std::function<void()> work = std::move(m_work);
                deleteLater();
                work();
            },
            Qt::QueuedConnection);
    }

    QWidget &m_window;
    std::function<void()> m_work;
    QWindow *m_native = nullptr;
    bool m_finished = false;
};

} // namespace

void runAfterFirstPaint(QWidget &window, std::function<void()> work)
{
    new FirstExposeWatcher(window, std::move(work));
}
