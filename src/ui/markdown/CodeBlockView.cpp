#include "ui/markdown/CodeBlockView.h"

#include "ui/icons/Icons.h"
#include "ui/markdown/CodeTextView.h"
#include "ui/markdown/MarkdownStyle.h"
#include "ui/markdown/RoundedPanel.h"
#include "ui/markdown/WrappingLabel.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int cornerRadius = 10;

} // namespace

CodeBlockView::CodeBlockView(const QString &language, const QString &code, QWidget *parent)
    : QWidget(parent)
    , m_caption(new WrappingLabel(this))
    , m_copyButton(new QToolButton(this))
    , m_codeView(new CodeTextView(this))
    , m_copiedReset(new QTimer(this))
{
    m_header = makeHeader();
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(m_header);
    column->addWidget(m_codeView);

    m_copiedReset->setSingleShot(true);
    m_copiedReset->setInterval(1500);
    connect(m_copiedReset, &QTimer::timeout, this, [this] { setCopied(false); });
    connect(m_copyButton, &QToolButton::clicked, this, &CodeBlockView::copyToClipboard);

    setLanguage(language);
    setCode(code);
    updateCopyButton();
}

QWidget *CodeBlockView::makeHeader()
{
    auto *header = new QWidget(this);
    m_caption->setFont(MarkdownStyle::captionFont(font()));
    m_caption->setForegroundRole(QPalette::PlaceholderText);
    m_copyButton->setAutoRaise(true);
    m_copyButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_copyButton->setFont(MarkdownStyle::captionFont(font()));
    m_copyButton->setIconSize(QSize(12, 12));
    m_copyButton->setCursor(Qt::PointingHandCursor);
    // A long language wraps beside the button instead of widening the block.
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(12, 6, 12, 6);
    row->addWidget(m_caption, 1, Qt::AlignVCenter);
    row->addWidget(m_copyButton, 0, Qt::AlignTop);
    return header;
}

void CodeBlockView::setLanguage(const QString &language)
{
    if (language == m_language && !m_caption->text().isEmpty())
        return;
    m_language = language;
    const QString caption = language.isEmpty() ? QStringLiteral("code") : language;
    m_caption->setText(caption);
    m_codeView->setAccessibleName(caption);
    Q_EMIT languageChanged();
}

QString CodeBlockView::code() const
{
    return m_codeView->code();
}

void CodeBlockView::setCode(const QString &code)
{
    if (code == m_codeView->code())
        return;
    m_codeView->setCode(code);
    Q_EMIT codeChanged();
}

void CodeBlockView::setCopiedInterval(int milliseconds)
{
    m_copiedReset->setInterval(milliseconds);
}

void CodeBlockView::copyToClipboard()
{
    QGuiApplication::clipboard()->setText(code());
    setCopied(true);
    m_copiedReset->start(); // a second copy restarts the wait
}

void CodeBlockView::setCopied(bool copied)
{
    if (copied == m_copied)
        return;
    m_copied = copied;
    updateCopyButton();
    Q_EMIT copiedChanged();
}

void CodeBlockView::updateCopyButton()
{
    const QString label = m_copied ? QStringLiteral("Copied") : QStringLiteral("Copy");
    m_copyButton->setText(label);
    m_copyButton->setAccessibleName(label);
    m_copyButton->setIcon(Icons::symbol(m_copied ? "object-select" : "edit-copy"));
}

void CodeBlockView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    RoundedPanel::fill(painter, rect(), cornerRadius, MarkdownStyle::primary(palette(), 0.04));
    RoundedPanel::fill(painter, QRect(0, 0, width(), m_header->height()), cornerRadius,
        MarkdownStyle::primary(palette(), 0.06), RoundedPanel::Corners::Top);
    RoundedPanel::outline(painter, rect(), cornerRadius, MarkdownStyle::primary(palette(), 0.08));
}
