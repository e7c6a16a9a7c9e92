#pragma once

#include <QList>
#include <QString>

// The pieces that the inline scanner cuts a block's text into, before they
// are written out as runs. Internal to InlineMarkdown.
namespace InlineMarkdown::detail {

enum class Tag : char { Emphasis, Strong };

struct Node {
    enum class Kind { Text, LineBreak, Code, Delimiter, LinkStart, LinkEnd };
    Kind kind = Kind::Text;
    qsizetype start = 0; // Text, Code: range in the source
    qsizetype length = 0; // Delimiter: number of marker characters left unmatched
    QChar marker; // Delimiter: '*' or '_'
    QList<Tag> closes; // Delimiter: tags this run closes, innermost first
    QList<Tag> opens; // Delimiter: tags this run opens, outermost first
    QString url; // LinkStart: the destination, when the link was made
};

// Cuts text into nodes, pairing code spans, links and emphasis.
QList<Node> scan(const QString &text);

} // namespace InlineMarkdown::detail
