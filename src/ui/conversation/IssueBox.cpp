#include "conversation/IssueBox.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

IssueBox::IssueBox(const AppIssue &issue, const QString &retryTitle, std::function<void()> onRetry,
                   QWidget *parent)
    : QWidget(parent), m_message(new QLabel(this))
{
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(8);
    column->addWidget(m_message);
    if (onRetry) {
        auto *retry = new QPushButton(retryTitle, this);
        connect(retry, &QPushButton::clicked, this, [onRetry] { onRetry(); });
        column->addWidget(retry, 0, Qt::AlignLeft);
    }
    setIssue(issue);
}

void IssueBox::setIssue(const AppIssue &issue)
{
    m_message->setText(issue.message);
    setAccessibleDescription(issue.details);
}

void IssueBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 12, 12);
    QColor orange(0xFF, 0x95, 0x00);
    orange.setAlphaF(0.1f);
    painter.fillPath(shape, orange);
}
