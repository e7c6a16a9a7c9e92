#include "ui/conversation/ThinkingIndicator.h"

#include "ui/conversation/ConversationStyle.h"
#include "ui/style/Palette.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPauseAnimation>
#include <QPropertyAnimation>
#include <QSequentialAnimationGroup>

namespace {

constexpr int pulseMs = 600;
constexpr int staggerMs = 200;
constexpr qreal dim = 0.25;
constexpr qreal bright = 1.0;

QPropertyAnimation *fade(PulseDot *dot, qreal from, qreal to)
{
    auto *animation = new QPropertyAnimation(dot, "opacity");
    animation->setStartValue(from);
    animation->setEndValue(to);
    animation->setDuration(pulseMs);
    animation->setEasingCurve(QEasingCurve::InOutSine);
    return animation;
}

// Waits its turn once, then brightens and dims forever.
QSequentialAnimationGroup *pulse(PulseDot *dot, int index, QObject *parent)
{
    auto *cycle = new QSequentialAnimationGroup;
    cycle->addAnimation(fade(dot, dim, bright));
    cycle->addAnimation(fade(dot, bright, dim));
    cycle->setLoopCount(-1);
    auto *whole = new QSequentialAnimationGroup(parent);
    whole->addPause(staggerMs * index);
    whole->addAnimation(cycle);
    return whole;
}

} // namespace

PulseDot::PulseDot(QWidget *parent)
    : QWidget(parent)
{
    setFixedSize(7, 7);
}

void PulseDot::setOpacity(qreal opacity)
{
    m_opacity = opacity;
    update();
}

void PulseDot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Palette::secondary(this, m_opacity));
    painter.drawEllipse(QRectF(rect()));
}

ThinkingIndicator::ThinkingIndicator(QWidget *parent)
    : QWidget(parent)
    , m_caption(new QLabel(this))
{
    m_countdown.setSingleShot(true);
    m_countdown.setTimerType(Qt::PreciseTimer);
    connect(&m_countdown, &QTimer::timeout, this, &ThinkingIndicator::showCaption);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    for (int i = 0; i < 3; ++i) {
        auto *dot = new PulseDot(this);
        m_dots.append(dot);
        m_pulses.append(pulse(dot, i, this));
        row->addWidget(dot, 0, Qt::AlignVCenter);
    }
    m_caption->setTextFormat(Qt::PlainText);
    m_caption->setFont(ConversationStyle::callout(m_caption->font()));
    Palette::useSecondaryText(m_caption);
    row->addWidget(m_caption, 0, Qt::AlignVCenter);
    row->addStretch(1);
    showCaption();
}

void ThinkingIndicator::setLimitWait(const std::optional<QDeadlineTimer> &until)
{
    m_limitWait = until;
    showCaption();
}

QString ThinkingIndicator::caption() const
{
    return m_caption->text();
}

// The seconds left, rounded up, shown again just after each of them ends.
void ThinkingIndicator::showCaption()
{
    m_countdown.stop();
    if (!m_limitWait) {
        m_caption->setText(QStringLiteral("Thinking…"));
        return;
    }
    constexpr qint64 second = 1'000'000'000;
    const qint64 left = qMax<qint64>(0, m_limitWait->remainingTimeNSecs());
    const qint64 seconds = (left + second - 1) / second;
    m_caption->setText(QStringLiteral("Waiting for the free-request limit… %1 s").arg(seconds));
    if (seconds > 0 && isVisible()) {
        const qint64 untilNext = left - (seconds - 1) * second;
        m_countdown.start(int(untilNext / 1'000'000) + 1);
    }
}

qreal ThinkingIndicator::dotOpacity(int index) const
{
    return m_dots.value(index) ? m_dots[index]->opacity() : 0;
}

void ThinkingIndicator::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    setPhase(true);
    showCaption();
}

void ThinkingIndicator::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    setPhase(false);
    m_countdown.stop();
}

void ThinkingIndicator::setPhase(bool phase)
{
    if (phase == m_phase)
        return;
    m_phase = phase;
    for (qsizetype i = 0; i < m_pulses.size(); ++i) {
        if (phase) {
            m_pulses[i]->start();
        } else {
            m_pulses[i]->stop();
            m_dots[i]->setOpacity(dim);
        }
    }
    Q_EMIT phaseChanged();
}
