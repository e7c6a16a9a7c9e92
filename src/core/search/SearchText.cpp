#include "core/search/SearchText.h"

#include <QTextBoundaryFinder>
#include <algorithm>

namespace {

struct Word {
    qsizetype start;
    qsizetype length;
};

// Words as Qt's boundary finder sees them, keeping only those that hold a
// letter or a digit: punctuation and spaces are not searched for.
template <typename F> void forEachWord(QStringView text, F &&found)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word, text.data(), int(text.size()));
    qsizetype start = 0;
    while (finder.toNextBoundary() != -1) {
        const qsizetype end = finder.position();
        const QStringView word = text.mid(start, end - start);
        if (std::any_of(word.begin(), word.end(), [](QChar c) { return c.isLetterOrNumber(); }))
            found(Word{ start, end - start });
        start = end;
    }
}

} // namespace

namespace SearchText {

QString fold(QStringView word)
{
    // Most words are plain ASCII, which has no accents to remove.
    if (std::all_of(word.begin(), word.end(), [](QChar c) { return c.unicode() < 0x80; }))
        return word.toString().toLower();
    const QString decomposed = word.toString().normalized(QString::NormalizationForm_KD);
    QString folded;
    folded.reserve(decomposed.size());
    for (const QChar c : decomposed)
        if (c.category() != QChar::Mark_NonSpacing)
            folded += c;
    return folded.toCaseFolded();
}

QStringList words(QStringView text)
{
    QStringList found;
    forEachWord(text, [&](Word w) { found << fold(text.mid(w.start, w.length)); });
    return found;
}

QList<Range> matches(QStringView text, const QStringList &foldedQuery)
{
    QList<Range> found;
    if (foldedQuery.isEmpty())
        return found;
    forEachWord(text, [&](Word w) {
        const QString word = fold(text.mid(w.start, w.length));
        for (const QString &query : foldedQuery) {
            if (word.startsWith(query)) {
                found << Range{ w.start, w.length };
                return;
            }
        }
    });
    return found;
}

} // namespace SearchText
