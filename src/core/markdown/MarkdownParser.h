#pragma once

#include "core/markdown/MDBlock.h"

#include <QList>
#include <QString>

// Splits a reply into blocks with a small line-based reader. It is a pure
// function of the text and runs again at every streamed flush, so it makes a
// single pass with no look-ahead and accepts any prefix of a reply, including
// one that stops inside a code fence.
namespace MarkdownParser {

QList<MDBlock> blocks(const QString &text);

} // namespace MarkdownParser
