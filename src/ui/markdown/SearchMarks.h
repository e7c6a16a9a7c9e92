#pragma once

#include <QList>
#include <QPalette>
#include <QStringList>
#include <QTextCharFormat>

class QTextDocument;

// The words a search found in a shown text, and how they are marked: dark
// text on a marker's amber, which reads on a light window and a dark one,
// and stays apart from the selection's accent colour.
namespace SearchMarks {

struct Span {
    int position = 0; // in the document
    int length = 0;
    bool operator==(const Span &) const = default;
};

// Where the words are found (as SearchText matches them), block by block,
// in document positions.
QList<Span> find(const QTextDocument &document, const QStringList &foldedWords);

QTextCharFormat format(const QPalette &palette);

} // namespace SearchMarks
