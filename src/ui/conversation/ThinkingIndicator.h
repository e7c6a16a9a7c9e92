#pragma once

#include <QDeadlineTimer>
#include <QList>
#include <QTimer>
#include <QWidget>
#include <optional>

class QAnimationGroup;
class QLabel;
class PulseDot;

// Three dots that pulse left to right, then "Thinking…", shown while the
// model has not started answering. While the reply waits for the account's
// per-minute limit to pass, the words say so and count the seconds down.
// The pulse and the count run only while it is shown.
class ThinkingIndicator : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool phase READ phase NOTIFY phaseChanged)
public:
    explicit ThinkingIndicator(QWidget *parent = nullptr);

    bool phase() const { return m_phase; }
    qreal dotOpacity(int index) const;

    // When the wait for the per-minute limit ends; none while there is none.
    void setLimitWait(const std::optional<QDeadlineTimer> &until);
    QString caption() const;

Q_SIGNALS:
    void phaseChanged();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void setPhase(bool phase);
    void showCaption();

    bool m_phase = false;
    QLabel *m_caption;
    std::optional<QDeadlineTimer> m_limitWait;
    QTimer m_countdown;
    QList<PulseDot *> m_dots;
    QList<QAnimationGroup *> m_pulses;
};

// One dot of the indicator: a 7 x 7 circle in the secondary colour.
class PulseDot : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(qreal opacity READ opacity WRITE setOpacity)
public:
    explicit PulseDot(QWidget *parent = nullptr);

    qreal opacity() const { return m_opacity; }
    void setOpacity(qreal opacity);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qreal m_opacity = 0.25;
};
