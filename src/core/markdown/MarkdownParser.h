#pragma once

#include "core/markdown/MDBlock.h"

#include <QList>
#include <QString>

// Splits a reply into blocks with a small line-based reader. It makes a
// single pass with no look-ahead and accepts any prefix of a reply, including
// one that stops inside a code fence. A reply that streams in is parsed
// again at every flush, but only from its last settled point: the blocks
// before it can no longer change, whatever text follows.
namespace MarkdownParser {

// The state in which a parse begins: at the start of a reply, or inside a
// code fence opened before.
struct Resume {
    bool inFence = false;
    QString fenceLang;

    bool operator==(const Resume &) const = default;
};

struct Parsed {
    QList<MDBlock> blocks;
    // The last point up to which nothing can change: the start of a line
    // before which no paragraph is pending. Inside an open fence it is the
    // start of the fence's last complete line, since that line would take
    // the panel's bottom edge if the fence closed after it.
    qsizetype settledEnd = 0;
    qsizetype settledBlocks = 0; // blocks that lie wholly before settledEnd
    // Inside an open fence: how many of its lines (from the start of the
    // parse, or of the fence) lie before settledEnd.
    qsizetype settledFenceLines = 0;
    Resume settledState; // how the text from settledEnd on begins
};

// text parsed from state from; offsets are within text.
Parsed parse(QStringView text, const Resume &from = {});

QList<MDBlock> blocks(const QString &text);

} // namespace MarkdownParser
