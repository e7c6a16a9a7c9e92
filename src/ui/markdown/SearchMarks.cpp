#include "ui/markdown/SearchMarks.h"

#include "core/search/SearchText.h"

#include <QTextBlock>
#include <QTextDocument>

namespace SearchMarks {

QList<Span> find(const QTextDocument &document, const QStringList &foldedWords)
{
    QList<Span> spans;
    if (foldedWords.isEmpty())
        return spans;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (const SearchText::Range &range : SearchText::matches(block.text(), foldedWords))
            spans.append(Span{ block.position() + int(range.start), int(range.length) });
    }
    return spans;
}

QTextCharFormat format(const QPalette &palette)
{
    // On a dark window full amber glares; a deeper one still holds dark
    // text well (both above 9:1).
    const bool dark = palette.color(QPalette::Base).lightnessF() < 0.5;
    QTextCharFormat look;
    look.setBackground(dark ? QColor(0xE0, 0xA8, 0x2E) : QColor(0xFF, 0xD8, 0x5C));
    look.setForeground(QColor(0x1A, 0x1A, 0x1A));
    return look;
}

} // namespace SearchMarks
