#include "markdown/CodeBlockView.h"

#include "icons/Icons.h"
#include "markdown/CodeTextView.h"
#include "markdown/MarkdownStyle.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr qreal cornerRadius = 10;

// The header's shape: the block's rounded corners at the top, square below.
// Built by hand, as clipping to the block's outline costs far more to paint.
QPainterPath topRoundedRect(const QRectF &rect)
{
    const qreal d = 2 * cornerRadius;
    QPainterPath path;
    path.moveTo(rect.bottomLeft());
    path.lineTo(rect.left(), rect.top() + cornerRadius);
    path.arcTo(QRectF(rect.left(), rect.top(), d, d), 180, -90);
    path.lineTo(rect.right() - cornerRadius, rect.top());
    path.arcTo(QRectF(rect.right() - d, rect.top(), d, d), 90, -90);
    path.lineTo(rect.bottomRight());
    path.closeSubpath();
    return path;
}

} // namespace

CodeBlockView::CodeBlockView(const QString &language, const QString &code, QWidget *parent)
    : QWidget(parent)
    , m_caption(new QLabel(this))
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
    m_caption->setTextFormat(Qt::PlainText);
    m_caption->setFont(MarkdownStyle::captionFont(font()));
    m_caption->setForegroundRole(QPalette::PlaceholderText);
    m_copyButton->setAutoRaise(true);
    m_copyButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_copyButton->setFont(MarkdownStyle::captionFont(font()));
    m_copyButton->setIconSize(QSize(12, 12));
    m_copyButton->setCursor(Qt::PointingHandCursor);
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(12, 6, 12, 6);
    row->addWidget(m_caption);
    row->addStretch(1);
    row->addWidget(m_copyButton);
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
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setBrush(MarkdownStyle::primary(palette(), 0.04));
    painter.drawRoundedRect(frame, cornerRadius, cornerRadius);
    painter.setBrush(MarkdownStyle::primary(palette(), 0.06));
    painter.drawPath(
        topRoundedRect(QRectF(frame.topLeft(), QSizeF(frame.width(), m_header->height() - 0.5))));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(MarkdownStyle::primary(palette(), 0.08), 1));
    painter.drawRoundedRect(frame, cornerRadius, cornerRadius);
}
