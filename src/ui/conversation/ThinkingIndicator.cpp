#include "ui/conversation/ThinkingIndicator.h"

#include "ui/conversation/ConversationStyle.h"

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
    painter.setBrush(ConversationStyle::secondary(this, m_opacity));
    painter.drawEllipse(QRectF(rect()));
}

ThinkingIndicator::ThinkingIndicator(QWidget *parent)
    : QWidget(parent)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    for (int i = 0; i < 3; ++i) {
        auto *dot = new PulseDot(this);
        m_dots.append(dot);
        m_pulses.append(pulse(dot, i, this));
        row->addWidget(dot, 0, Qt::AlignVCenter);
    }
    auto *caption = new QLabel(QStringLiteral("Thinking…"), this);
    caption->setTextFormat(Qt::PlainText);
    caption->setFont(ConversationStyle::callout(caption->font()));
    ConversationStyle::useSecondaryText(caption);
    row->addWidget(caption, 0, Qt::AlignVCenter);
    row->addStretch(1);
}

qreal ThinkingIndicator::dotOpacity(int index) const
{
    return m_dots.value(index) ? m_dots[index]->opacity() : 0;
}

void ThinkingIndicator::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    setPhase(true);
}

void ThinkingIndicator::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    setPhase(false);
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
