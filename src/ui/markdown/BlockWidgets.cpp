#include "ui/markdown/BlockWidgets.h"

#include "ui/markdown/CodeBlockView.h"
#include "ui/markdown/MarkdownStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QResizeEvent>

namespace {

constexpr int quoteBarWidth = 3;
constexpr int quoteSpacing = 10;
constexpr int bulletStep = 16; // per level
constexpr int bulletMargin = 4;
constexpr int bulletSpacing = 8;

} // namespace

HeadingBlock::HeadingBlock(QWidget *parent)
    : RichTextLabel(parent)
{
    setPadding(QMargins(0, 4, 0, 0));
}

void HeadingBlock::showBlock(const MDBlock &block)
{
    setFont(MarkdownStyle::headingFont(parentWidget() ? parentWidget()->font() : font(), block.level));
    setMarkdown(block.text);
}

ParagraphBlock::ParagraphBlock(QWidget *parent)
    : RichTextLabel(parent)
{
    setBlockStyle(QStringLiteral("line-height:3px; -qt-line-height-type:line-distance"));
    // Qt adds the line spacing below the last line too; spacing belongs only
    // between lines, so the block gives those 3 pixels back.
    setPadding(QMargins(0, 0, 0, -3));
}

void ParagraphBlock::showBlock(const MDBlock &block)
{
    setMarkdown(block.text);
}

BulletBlock::BulletBlock(QWidget *parent)
    : QWidget(parent)
    , m_marker(new QLabel(this))
    , m_label(new RichTextLabel(this))
{
    m_marker->setTextFormat(Qt::PlainText);
    m_marker->setForegroundRole(QPalette::PlaceholderText);
    m_marker->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void BulletBlock::showBlock(const MDBlock &block)
{
    m_level = block.indent;
    m_marker->setText(block.marker);
    m_label->setMarkdown(block.text);
    updateGeometry();
    place();
}

int BulletBlock::indentAt(int width) const
{
    return MarkdownStyle::indent(m_level * bulletStep + bulletMargin, width);
}

// Both top-aligned in the same font: their first baselines meet.
int BulletBlock::textLeft(int width) const
{
    return indentAt(width) + m_marker->sizeHint().width() + bulletSpacing;
}

int BulletBlock::heightForWidth(int width) const
{
    return qMax(m_marker->sizeHint().height(), m_label->heightForWidth(width - textLeft(width)));
}

QSize BulletBlock::sizeHint() const
{
    const int width = m_level * bulletStep + bulletMargin + m_marker->sizeHint().width() + bulletSpacing
        + m_label->sizeHint().width();
    return { width, heightForWidth(width) };
}

// However deep the item, its indentation gives way to its text.
QSize BulletBlock::minimumSizeHint() const
{
    const int rest = m_marker->sizeHint().width() + bulletSpacing + m_label->minimumSizeHint().width();
    const int width = qMin(rest * 4 / 3 + 1, m_level * bulletStep + bulletMargin + rest);
    return { width, qMax(m_marker->sizeHint().height(), m_label->minimumSizeHint().height()) };
}

void BulletBlock::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    place();
}

void BulletBlock::place()
{
    const QSize marker = m_marker->sizeHint();
    m_marker->setGeometry(indentAt(width()), 0, marker.width(), marker.height());
    const int left = textLeft(width());
    m_label->setGeometry(left, 0, qMax(0, width() - left), height());
}

QuoteBlock::QuoteBlock(QWidget *parent)
    : QWidget(parent)
    , m_label(new RichTextLabel(this))
{
    m_label->setTextRole(QPalette::PlaceholderText);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(quoteBarWidth + quoteSpacing, 0, 0, 0);
    row->addWidget(m_label, 1, Qt::AlignVCenter);
}

void QuoteBlock::showBlock(const MDBlock &block)
{
    m_label->setMarkdown(block.text);
}

void QuoteBlock::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(MarkdownStyle::secondary(palette(), 0.5));
    painter.drawRoundedRect(QRectF(0, 0, quoteBarWidth, height()), 1.5, 1.5);
}

QWidget *createBlockWidget(const MDBlock &block, QWidget *parent)
{
    QWidget *widget = nullptr;
    switch (block.kind) {
    case MDBlock::Kind::Code:
        return new CodeBlockView(block.lang, block.body, parent);
    case MDBlock::Kind::Heading:
        widget = new HeadingBlock(parent);
        break;
    case MDBlock::Kind::Bullet:
        widget = new BulletBlock(parent);
        break;
    case MDBlock::Kind::Quote:
        widget = new QuoteBlock(parent);
        break;
    case MDBlock::Kind::Paragraph:
        widget = new ParagraphBlock(parent);
        break;
    }
    updateBlockWidget(widget, block);
    return widget;
}

namespace {

template <typename BlockWidget> bool showIn(QWidget *widget, const MDBlock &block)
{
    auto *typed = qobject_cast<BlockWidget *>(widget);
    if (!typed)
        return false;
    typed->showBlock(block);
    return true;
}

} // namespace

bool updateBlockWidget(QWidget *widget, const MDBlock &block)
{
    switch (block.kind) {
    case MDBlock::Kind::Code:
        if (auto *code = qobject_cast<CodeBlockView *>(widget)) {
            code->setLanguage(block.lang);
            code->setCode(block.body);
            return true;
        }
        return false;
    case MDBlock::Kind::Heading:
        return showIn<HeadingBlock>(widget, block);
    case MDBlock::Kind::Bullet:
        return showIn<BulletBlock>(widget, block);
    case MDBlock::Kind::Quote:
        return showIn<QuoteBlock>(widget, block);
    case MDBlock::Kind::Paragraph:
        return showIn<ParagraphBlock>(widget, block);
    }
    return false;
}
