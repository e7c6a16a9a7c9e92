#pragma once

#include <QObject>

class QScrollArea;
class QScrollBar;

// Keeps a scroll area at the end of its content while the conversation
// grows, as long as the user has not scrolled back. One wheel movement
// toward earlier content anywhere in the application stops the following;
// coming back to within 40 pixels of the end resumes it. While following,
// the end is kept through every change of the content's height, so a
// scroll asked for before the new rows are laid out still lands at the end.
class ScrollFollower : public QObject
{
    Q_OBJECT
public:
    static constexpr int reattachDistance = 40;

    explicit ScrollFollower(QScrollArea *area, QObject *parent = nullptr);
    ~ScrollFollower() override;

    bool isSticking() const { return m_sticking; }
    void setSticking(bool sticking);
    void scrollToEnd();

    // The wheel monitor: an application-wide event filter that only looks.
    void installMonitor();
    void removeMonitor();
    bool isMonitorInstalled() const { return m_monitoring; }

Q_SIGNALS:
    void stickingChanged(bool sticking);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void onRangeChanged(int minimum, int maximum);
    void onValueChanged();
    void reattachIfNearEnd();
    void moveTo(int value);

    QScrollBar *m_bar;
    bool m_sticking = true;
    bool m_monitoring = false;
    bool m_moving = false;
};
