#include "markdown/RichTextLabel.h"

#include "markdown/InlineMarkdown.h"

#include <QDesktopServices>
#include <QEvent>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QUrl>

RichTextLabel::RichTextLabel(QWidget *parent)
    : QLabel(parent)
{
    setTextFormat(Qt::RichText);
    setWordWrap(true);
    setOpenExternalLinks(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard
        | Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    connect(this, &QLabel::linkActivated, this, &RichTextLabel::openLink);
}

void RichTextLabel::setBlockStyle(const QString &css)
{
    m_blockStyle = css;
}

void RichTextLabel::setMarkdown(const QString &inlineMarkdown)
{
    m_markdown = inlineMarkdown;
    InlineMarkdown::Rendering rendering = InlineMarkdown::render(inlineMarkdown);
    if (!m_blockStyle.isEmpty())
        rendering.html = QStringLiteral("<div style=\"%1\">%2</div>").arg(m_blockStyle, rendering.html);
    forgetHeights();
    setText(rendering.html);
    setAccessibleName(rendering.plainText);
}

void RichTextLabel::paintEvent(QPaintEvent *event)
{
    keepShapedText();
    QLabel::paintEvent(event);
}

void RichTextLabel::keepShapedText()
{
    // QLabel's document lays its text out and then drops the shaped glyphs,
    // so every repaint (a streaming reply scrolls, and so repaints, at every
    // flush) would shape the text again. QLabel fills the document lazily,
    // hence here rather than in setMarkdown. The document is the label's own
    // child; without one, nothing changes but the speed.
    if (auto *document = findChild<QTextDocument *>()) {
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
            block.layout()->setCacheEnabled(true);
    }
}

int RichTextLabel::heightForWidth(int width) const
{
    for (const HeightForWidth &entry : m_hfwCache) {
        if (entry.width == width)
            return entry.height;
    }
    HeightForWidth &entry = m_hfwCache[m_hfwNext];
    m_hfwNext = (m_hfwNext + 1) % m_hfwCache.size();
    entry = { width, QLabel::heightForWidth(width) };
    return entry.height;
}

QSize RichTextLabel::sizeHint() const
{
    const int width = fontMetrics().averageCharWidth() * 80;
    return { width, heightForWidth(width) };
}

QSize RichTextLabel::minimumSizeHint() const
{
    const QMargins margins = contentsMargins();
    return { fontMetrics().averageCharWidth() * 4 + margins.left() + margins.right(),
        fontMetrics().height() + margins.top() + margins.bottom() };
}

void RichTextLabel::forgetHeights()
{
    m_hfwCache.fill({});
}

bool RichTextLabel::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::StyleChange:
    case QEvent::ContentsRectChange:
        forgetHeights();
        break;
    default:
        break;
    }
    return QLabel::event(event);
}

void RichTextLabel::openLink(const QString &link)
{
    // The renderer only links these schemes; checked again since the label
    // would hand over whatever href it holds.
    if (InlineMarkdown::isAllowedLink(link))
        QDesktopServices::openUrl(QUrl(link));
}
