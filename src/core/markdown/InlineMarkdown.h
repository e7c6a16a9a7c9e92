#pragma once

#include <QString>

// Renders the inline markup of one block's text as Qt rich text: *emphasis*,
// **strong**, `code` and [links](url). Everything else is shown as written:
// HTML in the source is escaped, white space and line breaks are kept, and a
// marker without a partner stays a plain character. Links are made only for
// http, https and mailto; any other link is shown as its source text. Never
// fails, and takes time linear in the length of the text.
namespace InlineMarkdown {

struct Rendering {
    QString html; // a rich-text fragment for a QLabel or QTextDocument
    QString plainText; // what a person reads, for accessibility
};

Rendering render(const QString &text);
QString toHtml(const QString &text);
QString toPlainText(const QString &text);

// True for the schemes that may become links.
bool isAllowedLink(const QString &url);

} // namespace InlineMarkdown
