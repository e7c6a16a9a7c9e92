#pragma once

#include "core/markdown/MDBlock.h"
#include "core/markdown/MarkdownParser.h"

#include <QColor>
#include <QFont>
#include <QList>
#include <QString>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <optional>

class QTextDocument;

// Keeps a QTextDocument in step with a reply's Markdown while it grows. Only
// what follows the reply's last settled point is parsed again at a change
// (the blocks before it are kept, parsed, with the stretches of document
// they became), and the document is only edited from the first character
// whose text or look changed: while a reply streams in, a flush costs what
// it added and its unfinished block, and leaves every finished block alone.
// One document holds the whole reply, so a person can select across all of
// it.
//
// The look is given as formats with properties a view reads (see Property);
// colours are the view's, taken from its palette and given with setColours():
// links and list markers carry theirs in the document, so that drawing a
// line needs no extra passes over it.
class MarkdownDocument
{
public:
    // Block and character properties for the view.
    enum Property {
        blockKindProperty = QTextFormat::UserProperty + 1, // int: MDBlock::Kind of the block
        headingLevelProperty, // int, headings
        bulletIndentProperty, // int, list items: their nesting level
        markerProperty, // bool, character: a list item's marker
        codeBlockProperty, // int, code lines: which code block of the reply, from 0
        codeLanguageProperty, // QString, code lines: what followed the opening fence
        // bool, block: goes on with the paragraph above, cut there at a line
        // end (the separator before it stands for a space)
        continuationProperty,
    };

    // A growing last paragraph longer than this is kept in blocks of about
    // this length, cut where a line ends at the width it is laid out at:
    // Qt lays a changed block out whole, so a flush then costs one block,
    // not the paragraph. It looks the same; a change of width writes it
    // again in one block.
    static constexpr qsizetype chunkLength = 2000;

    // A code block's lines sit on a panel: this much room around them, and a
    // caption line above them (the view draws both into the block margins).
    static constexpr int codePadding = 12;
    static constexpr int codeCaptionHeight = 32;

    explicit MarkdownDocument(QTextDocument &document);

    // Shows text. Returns the position of the first character that changed
    // (the document's length when nothing did).
    int setText(const QString &text);
    const QString &text() const { return m_text; }
    // Writes the whole text again, as after the document's default font
    // changed: list items hang by the width of their marker in that font.
    void rewrite();
    // The colours of links and of list markers (invalid: the text's own);
    // a change writes the document again.
    void setColours(const QColor &link, const QColor &marker);
    // Whether a paragraph is kept in blocks cut at line ends, which a new
    // width would put in the wrong places.
    bool hasCuts() const { return !m_cuts.offsets.isEmpty(); }
    // The document's text as the reply reads: a cut between a paragraph's
    // blocks is the space it stands for.
    static QString plainText(const QTextDocument &document);

    // The document a fresh MarkdownDocument makes of text, for comparison.
    static void render(QTextDocument &document, const QString &text);

private:
    // A stretch of the document with one look; `startsBlock` begins a new
    // document block with blockFormat.
    struct Segment {
        QString text;
        QTextCharFormat charFormat;
        QTextBlockFormat blockFormat;
        bool startsBlock = false;

        bool sameLook(const Segment &other) const
        {
            return startsBlock == other.startsBlock && charFormat == other.charFormat
                && blockFormat == other.blockFormat;
        }
    };

    // How far the text is settled (MarkdownParser::Parsed): where it ends in
    // the text, how the rest begins, how many segments it made and where
    // they end in the document, and what a block after it needs to know.
    struct Settled {
        qsizetype end = 0;
        MarkdownParser::Resume state;
        qsizetype segments = 0;
        int position = 0;
        int codeBlocks = 0; // code blocks begun, an open one included
        std::optional<MDBlock> lastBlock;
    };

    // What a block's formats depend on besides the block.
    struct Look {
        QFont font;
        QColor link;
        QColor marker;
    };

    static void appendBlock(QList<Segment> &segments, const MDBlock &block, const MDBlock *previous,
        const Look &look, int &codeBlocks);
    static int lengthOf(const Segment &segment, qsizetype index)
    {
        return (segment.startsBlock && index > 0 ? 1 : 0) + int(segment.text.size());
    }
    // The segments of what follows the settled point, and the settled point
    // they lead to.
    QList<Segment> tailOf(const QString &text, Settled &next);
    // Where the growing last paragraph is cut: offsets in its shown text,
    // each at a space, with the text just before it (a cut whose
    // surroundings changed is dropped), for the paragraph that begins at
    // block `block` after the settled point `settledEnd`.
    struct Cuts {
        qsizetype settledEnd = -1;
        qsizetype block = -1;
        QList<qsizetype> offsets;
        QStringList before;
    };
    // setText() without asking whether the text changed.
    int apply(const QString &text);
    // Cuts the paragraph whose opening segment is tail[first].
    void applyCuts(QList<Segment> &tail, qsizetype first);
    // After a write: a new cut when the last block has grown long.
    void chooseCut();
    // Replaces everything from position from with segments[segment...]; a
    // non-negative offset says the first of them keeps its block and only
    // its text from offset on is written.
    void write(int from, qsizetype segment, qsizetype offset, const QList<Segment> &segments);

    QTextDocument &m_document;
    QString m_text;
    QList<Segment> m_segments;
    Settled m_settled;
    QColor m_linkColour;
    QColor m_markerColour;
    Cuts m_cuts;
    bool m_openParagraph = false; // the tail ends in a paragraph that may grow
};
