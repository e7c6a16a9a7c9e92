#pragma once

#include "core/markdown/MDBlock.h"
#include "core/markdown/MarkdownParser.h"

#include <QList>
#include <QString>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <optional>

class QFont;
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
// colours are the view's, taken from its palette.
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
    };

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

    static void appendBlock(QList<Segment> &segments, const MDBlock &block, const MDBlock *previous,
        const QFont &font, int &codeBlocks);
    static int lengthOf(const Segment &segment, qsizetype index)
    {
        return (segment.startsBlock && index > 0 ? 1 : 0) + int(segment.text.size());
    }
    // The segments of what follows the settled point, and the settled point
    // they lead to.
    QList<Segment> tailOf(const QString &text, Settled &next) const;
    // Replaces everything from position from with segments[segment...]; a
    // non-negative offset says the first of them keeps its block and only
    // its text from offset on is written.
    void write(int from, qsizetype segment, qsizetype offset, const QList<Segment> &segments);

    QTextDocument &m_document;
    QString m_text;
    QList<Segment> m_segments;
    Settled m_settled;
};
