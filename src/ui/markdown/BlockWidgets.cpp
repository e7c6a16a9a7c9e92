#include "markdown/BlockWidgets.h"

#include "markdown/CodeBlockView.h"
#include "markdown/MarkdownStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace {

constexpr int quoteBarWidth = 3;
constexpr int quoteSpacing = 10;

} // namespace

HeadingBlock::HeadingBlock(QWidget *parent)
    : RichTextLabel(parent)
{
    setContentsMargins(0, 4, 0, 0);
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
    // between lines, so the label gives those 3 pixels back.
    setContentsMargins(0, 0, 0, -3);
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
    m_marker->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    auto *row = new QHBoxLayout(this);
    row->setSpacing(8);
    // Both labels top-aligned in the same font: their first baselines meet.
    row->addWidget(m_marker, 0, Qt::AlignTop);
    row->addWidget(m_label, 1);
}

void BulletBlock::showBlock(const MDBlock &block)
{
    layout()->setContentsMargins(block.indent * 16 + 4, 0, 0, 0);
    m_marker->setText(block.marker);
    m_label->setMarkdown(block.text);
}

QuoteBlock::QuoteBlock(QWidget *parent)
    : QWidget(parent)
    , m_label(new RichTextLabel(this))
{
    m_label->setForegroundRole(QPalette::PlaceholderText);
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
