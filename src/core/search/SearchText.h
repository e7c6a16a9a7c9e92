#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

// How search reads text: words, compared without case or accents, a query
// word matching every word it begins ("rés" finds "Resume" and "résumé").
namespace SearchText {

// A word as search compares it: accents removed, case folded.
QString fold(QStringView word);

// The folded words of text, in order, repeats included.
QStringList words(QStringView text);

struct Range {
    qsizetype start = 0;
    qsizetype length = 0;
    bool operator==(const Range &) const = default;
};

// Where in text (its own indexes) the words begin that a folded query word
// begins, for every word of the query; in order of position.
QList<Range> matches(QStringView text, const QStringList &foldedQuery);

} // namespace SearchText
