#include "ui/markdown/CodeCopyButton.h"

#include "ui/icons/Icons.h"
#include "ui/markdown/MarkdownStyle.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QTimer>

CodeCopyButton::CodeCopyButton(std::function<QString()> code, QWidget *parent)
    : QToolButton(parent)
    , m_code(std::move(code))
    , m_copiedReset(new QTimer(this))
{
    setAutoRaise(true);
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    setFont(MarkdownStyle::captionFont(font()));
    setIconSize(QSize(12, 12));
    setCursor(Qt::PointingHandCursor);
    m_copiedReset->setSingleShot(true);
    m_copiedReset->setInterval(1500);
    connect(m_copiedReset, &QTimer::timeout, this, [this] { setCopied(false); });
    connect(this, &QToolButton::clicked, this, &CodeCopyButton::copyToClipboard);
    showState();
}

void CodeCopyButton::setCopiedInterval(int milliseconds)
{
    m_copiedReset->setInterval(milliseconds);
}

void CodeCopyButton::copyToClipboard()
{
    QGuiApplication::clipboard()->setText(m_code());
    setCopied(true);
    m_copiedReset->start(); // a second copy restarts the wait
}

void CodeCopyButton::setCopied(bool copied)
{
    if (copied == m_copied)
        return;
    m_copied = copied;
    showState();
    Q_EMIT copiedChanged();
}

void CodeCopyButton::showState()
{
    const QString label = m_copied ? QStringLiteral("Copied") : QStringLiteral("Copy");
    setText(label);
    setAccessibleName(label);
    setIcon(Icons::symbol(m_copied ? "object-select" : "edit-copy"));
    adjustSize();
}
