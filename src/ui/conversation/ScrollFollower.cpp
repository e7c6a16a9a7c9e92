#include "ui/conversation/ScrollFollower.h"

#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>

ScrollFollower::ScrollFollower(QScrollArea *area, QObject *parent)
    : QObject(parent)
    , m_bar(area->verticalScrollBar())
{
    connect(m_bar, &QScrollBar::rangeChanged, this, &ScrollFollower::onRangeChanged);
    connect(m_bar, &QScrollBar::valueChanged, this, &ScrollFollower::onValueChanged);
}

ScrollFollower::~ScrollFollower()
{
    removeMonitor();
}

void ScrollFollower::setSticking(bool sticking)
{
    if (sticking == m_sticking)
        return;
    m_sticking = sticking;
    Q_EMIT stickingChanged(sticking);
}

void ScrollFollower::scrollToEnd()
{
    moveTo(m_bar->maximum());
}

void ScrollFollower::moveTo(int value)
{
    m_moving = true;
    m_bar->setValue(value);
    m_moving = false;
    reattachIfNearEnd();
}

void ScrollFollower::installMonitor()
{
    if (m_monitoring)
        return;
    qApp->installEventFilter(this);
    m_monitoring = true;
}

void ScrollFollower::removeMonitor()
{
    if (!m_monitoring)
        return;
    qApp->removeEventFilter(this);
    m_monitoring = false;
}

bool ScrollFollower::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Wheel) {
        const auto *wheel = static_cast<QWheelEvent *>(event);
        if (wheel->angleDelta().y() > 0 || wheel->pixelDelta().y() > 0)
            setSticking(false);
    }
    return QObject::eventFilter(watched, event);
}

void ScrollFollower::onRangeChanged(int, int maximum)
{
    if (m_sticking)
        moveTo(maximum);
    else
        reattachIfNearEnd();
}

void ScrollFollower::onValueChanged()
{
    if (m_moving)
        return;
    reattachIfNearEnd();
}

void ScrollFollower::reattachIfNearEnd()
{
    if (!m_sticking && m_bar->maximum() - m_bar->value() <= reattachDistance)
        setSticking(true);
}
