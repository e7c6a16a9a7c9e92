#pragma once

#include <QList>
#include <QString>

// The inline markup of one block's text as runs of text that share one look,
// for writing into a QTextDocument piece by piece: *emphasis*, **strong**,
// `code` and [links](url). Everything else is shown as written: a marker
// without a partner stays a character, white space is kept, and a line break
// inside the block is U+2028 (a break that stays in the block). Links are
// made only for the schemes isAllowedLink accepts; any other link is shown
// as its source text. Never fails, and takes time linear in the text.
namespace InlineMarkdown {

struct Run {
    QString text;
    bool strong = false;
    bool emphasis = false;
    bool code = false;
    QString link; // the destination when the run is part of a link

    bool sameLook(const Run &other) const
    {
        return strong == other.strong && emphasis == other.emphasis && code == other.code
            && link == other.link;
    }
    bool operator==(const Run &) const = default;
};

QList<Run> runs(const QString &text);

// True for the schemes that may become links: http, https and mailto.
bool isAllowedLink(const QString &url);

} // namespace InlineMarkdown
