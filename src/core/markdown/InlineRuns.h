#pragma once

#include <QList>
#include <QString>

// The inline markup of one block's text as runs of text that share one look,
// for writing into a QTextDocument piece by piece. The same reading as
// InlineMarkdown's rich text: markers without a partner stay characters, and
// a line break inside the block is U+2028 (a break that stays in the block).
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

} // namespace InlineMarkdown
