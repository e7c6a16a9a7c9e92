#include "ui/style/PaletteFollower.h"

#include <QEvent>
#include <QWidget>

namespace {

class Follower : public QObject
{
public:
    Follower(QWidget *widget, std::function<void()> apply)
        : QObject(widget)
        , m_apply(std::move(apply))
    {
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Setting the new colours changes the palette once more.
        if (event->type() == QEvent::PaletteChange && !m_applying) {
            m_applying = true;
            m_apply();
            m_applying = false;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_apply;
    bool m_applying = false;
};

} // namespace

namespace PaletteFollower {

void follow(QWidget *widget, std::function<void()> apply)
{
    apply();
    new Follower(widget, std::move(apply));
}

} // namespace PaletteFollower
