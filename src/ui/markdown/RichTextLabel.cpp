#include "ui/markdown/RichTextLabel.h"

#include "core/markdown/InlineMarkdown.h"

#include <QDesktopServices>
#include <QUrl>

RichTextLabel::RichTextLabel(QWidget *parent)
    : SelectableText(parent)
{
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard
        | Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    setFocusPolicy(Qt::StrongFocus); // its links are reached with Tab
    connect(this, &QTextBrowser::anchorClicked, this, &RichTextLabel::openLink);
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
    setHtml(rendering.html);
    setAccessibleName(rendering.plainText);
}

void RichTextLabel::openLink(const QUrl &link)
{
    // The renderer only links these schemes; checked again since the view
    // would hand over whatever href it holds.
    const QString address = link.toString();
    if (InlineMarkdown::isAllowedLink(address))
        QDesktopServices::openUrl(link);
}
