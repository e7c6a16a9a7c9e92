#pragma once

#include "ui/markdown/SelectableText.h"

// Selectable, wrapping text that shows one block's inline Markdown. Links
// open in the browser, and only for http, https and mailto. Its accessible
// name is the text without markup.
class RichTextLabel : public SelectableText
{
    Q_OBJECT
public:
    explicit RichTextLabel(QWidget *parent = nullptr);

    // Wraps the rendered text in a <div> with this style (e.g. line spacing).
    void setBlockStyle(const QString &css);
    void setMarkdown(const QString &inlineMarkdown);
    QString markdown() const { return m_markdown; }

private:
    static void openLink(const QUrl &link);

    QString m_markdown;
    QString m_blockStyle;
};
