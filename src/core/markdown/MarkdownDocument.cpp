#include "core/markdown/MarkdownDocument.h"

#include "core/markdown/InlineRuns.h"
#include "core/markdown/MarkdownParser.h"

#include <QAbstractTextDocumentLayout>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <array>

namespace {

constexpr int blockSpacing = 10;
constexpr int headingExtraSpace = 4;
constexpr int lineSpacing = 3;
constexpr int bulletStep = 16; // per level
constexpr int bulletMargin = 4;
constexpr int quoteIndent = 13; // the bar and its gap
constexpr int maxBulletLevel = 6;
constexpr int codePixelSize = 13;
// Shaping lays a block's whole text out again at every change, so its cost
// grows with the block; a model that repeats itself without a blank line
// writes paragraphs of tens of thousands of characters. Past this length a
// block's Latin text goes without kerning and ligatures (scripts that need
// shaping keep it): a flush stays cheap, and the look changes once, when
// the paragraph gets there.
constexpr qsizetype shapedLength = 4000;

int headingPixelSize(int level)
{
    return level == 1 ? 22 : level == 2 ? 19 : 16;
}

QTextCharFormat codeFormat(QTextCharFormat format)
{
    // Asked once: the system's fixed font does not change while Tolvi runs.
    static const QStringList fixedFamilies{ QFontDatabase::systemFont(QFontDatabase::FixedFont).family() };
    format.setFontFamilies(fixedFamilies);
    format.setFontFixedPitch(true);
    return format;
}

QTextCharFormat lookOf(const InlineMarkdown::Run &run, QTextCharFormat format, const QColor &linkColour)
{
    if (run.strong)
        format.setFontWeight(QFont::Bold);
    if (run.emphasis)
        format.setFontItalic(true);
    if (run.code)
        format = codeFormat(format);
    if (!run.link.isEmpty()) {
        format.setAnchor(true);
        format.setAnchorHref(run.link);
        format.setFontUnderline(true);
        if (linkColour.isValid())
            format.setForeground(linkColour);
    }
    return format;
}

} // namespace

MarkdownDocument::MarkdownDocument(QTextDocument &document)
    : m_document(document)
{
}

void MarkdownDocument::rewrite()
{
    const QString text = m_text;
    m_text.clear();
    m_segments.clear();
    m_settled = Settled{};
    m_cuts = Cuts{};
    // Not QTextDocument::clear(), which would put the document's own
    // settings (its margin among them) back to Qt's defaults. One edit, so
    // that a view hears of the document only as it is written again, never
    // of the empty block in between (which keeps the last block's format).
    QTextCursor cursor(&m_document);
    cursor.beginEditBlock();
    cursor.select(QTextCursor::Document);
    cursor.removeSelectedText();
    cursor.setBlockFormat(QTextBlockFormat());
    cursor.setBlockCharFormat(QTextCharFormat());
    setText(text);
    cursor.endEditBlock();
}

void MarkdownDocument::setColours(const QColor &link, const QColor &marker)
{
    if (link == m_linkColour && marker == m_markerColour)
        return;
    m_linkColour = link;
    m_markerColour = marker;
    if (!m_segments.isEmpty())
        rewrite();
}

void MarkdownDocument::render(QTextDocument &document, const QString &text)
{
    document.clear();
    MarkdownDocument(document).setText(text);
}

QList<MarkdownDocument::Segment> MarkdownDocument::tailOf(const QString &text, Settled &next)
{
    const MarkdownParser::Parsed parsed
        = MarkdownParser::parse(QStringView(text).sliced(m_settled.end), m_settled.state);
    const Look look{ m_document.defaultFont(), m_linkColour, m_markerColour };
    QList<Segment> tail;
    next.lastBlock = m_settled.lastBlock;
    int codeBlocks = m_settled.codeBlocks;
    qsizetype settledTail = 0; // segments of the tail that become settled
    qsizetype lastOpening = -1;
    for (qsizetype i = 0; i < parsed.blocks.size(); ++i) {
        if (i == parsed.settledBlocks) {
            settledTail = tail.size();
            next.codeBlocks = codeBlocks;
        }
        lastOpening = tail.size();
        const MDBlock *previous = i > 0 ? &parsed.blocks[i - 1]
            : m_settled.lastBlock       ? &*m_settled.lastBlock
                                        : nullptr;
        appendBlock(tail, parsed.blocks[i], previous, look, codeBlocks);
    }
    if (parsed.settledBlocks >= parsed.blocks.size()) {
        settledTail = tail.size();
        next.codeBlocks = codeBlocks;
    }
    // The last block, when it is a paragraph still growing, may be cut.
    const qsizetype last = parsed.blocks.size() - 1;
    m_openParagraph
        = last >= parsed.settledBlocks && last >= 0 && parsed.blocks[last].kind == MDBlock::Kind::Paragraph;
    if (m_openParagraph && (m_cuts.settledEnd != m_settled.end || m_cuts.block != last))
        m_cuts = Cuts{ m_settled.end, last, {}, {} };
    if (!m_openParagraph)
        m_cuts = Cuts{};
    if (m_openParagraph && !m_cuts.offsets.isEmpty())
        applyCuts(tail, lastOpening);
    // Inside an open fence, its complete lines but the last are settled too:
    // one segment each, and the block they open is counted.
    if (parsed.settledState.inFence) {
        settledTail += parsed.settledFenceLines;
        const bool opensHere
            = parsed.settledBlocks < parsed.blocks.size() && !parsed.blocks[parsed.settledBlocks].continued;
        next.codeBlocks += opensHere ? 1 : 0;
    }
    next.end = m_settled.end + parsed.settledEnd;
    next.state = parsed.settledState;
    next.segments = m_settled.segments + settledTail;
    next.position = m_settled.position;
    for (qsizetype i = 0; i < settledTail; ++i)
        next.position += lengthOf(tail[i], m_settled.segments + i);
    if (parsed.settledBlocks > 0)
        next.lastBlock = parsed.blocks[parsed.settledBlocks - 1];
    return tail;
}

void MarkdownDocument::appendBlock(QList<Segment> &segments, const MDBlock &block, const MDBlock *previous,
    const Look &look, int &codeBlocks)
{
    QTextBlockFormat blockFormat;
    blockFormat.setProperty(blockKindProperty, int(block.kind));
    // Margins between blocks collapse to the larger one, so the block after
    // a code panel asks for the panel's bottom padding as well.
    const bool afterCode = previous && previous->kind == MDBlock::Kind::Code;
    blockFormat.setTopMargin(!previous ? 0 : afterCode ? blockSpacing + codePadding : blockSpacing);
    QTextCharFormat charFormat;
    switch (block.kind) {
    case MDBlock::Kind::Code: {
        QTextCharFormat code = codeFormat(charFormat);
        code.setProperty(QTextFormat::FontPixelSize, codePixelSize);
        blockFormat.setNonBreakableLines(true);
        // A continued block goes on with the number of the block it continues.
        blockFormat.setProperty(codeBlockProperty, block.continued ? codeBlocks - 1 : codeBlocks++);
        blockFormat.setProperty(codeLanguageProperty, block.lang);
        blockFormat.setLeftMargin(codePadding);
        blockFormat.setRightMargin(codePadding);
        const QStringList lines = block.body.split(u'\n');
        for (qsizetype i = 0; i < lines.size(); ++i) {
            QTextBlockFormat line = blockFormat;
            const bool opensPanel = i == 0 && !block.continued;
            line.setTopMargin(opensPanel ? blockFormat.topMargin() + codeCaptionHeight + codePadding : 0);
            if (i + 1 == lines.size())
                line.setBottomMargin(codePadding);
            segments.append({ lines[i], code, line, true });
        }
        return;
    }
    case MDBlock::Kind::Heading:
        blockFormat.setTopMargin(blockFormat.topMargin() + headingExtraSpace);
        blockFormat.setProperty(headingLevelProperty, block.level);
        charFormat.setProperty(QTextFormat::FontPixelSize, headingPixelSize(block.level));
        charFormat.setFontWeight(QFont::DemiBold);
        break;
    case MDBlock::Kind::Paragraph:
        blockFormat.setLineHeight(lineSpacing, QTextBlockFormat::LineDistanceHeight);
        break;
    case MDBlock::Kind::Bullet: {
        // Lines that wrap start under the text, not under the marker.
        const qreal hang = QFontMetricsF(look.font).horizontalAdvance(block.marker + u' ');
        // However deep the source nests, an item keeps most of the width.
        const int level = qMin(block.indent, maxBulletLevel);
        blockFormat.setLeftMargin(level * bulletStep + bulletMargin + hang);
        blockFormat.setTextIndent(-hang);
        blockFormat.setProperty(bulletIndentProperty, block.indent);
        break;
    }
    case MDBlock::Kind::Quote:
        blockFormat.setLeftMargin(quoteIndent);
        break;
    }
    const QString &source = block.kind == MDBlock::Kind::Code ? block.body : block.text;
    if (source.size() > shapedLength)
        charFormat.setFontStyleStrategy(QFont::PreferNoShaping);
    Segment opening{ {}, charFormat, blockFormat, true };
    if (block.kind == MDBlock::Kind::Bullet) {
        QTextCharFormat marker = charFormat;
        marker.setProperty(markerProperty, true);
        if (look.marker.isValid())
            marker.setForeground(look.marker);
        opening = { block.marker + u' ', marker, blockFormat, true };
    }
    segments.append(opening);
    // Runs of one look share one format: a long paragraph has thousands of
    // runs, and formats that share their data compare at a glance. (Each
    // link has a target of its own.)
    std::array<std::optional<QTextCharFormat>, 8> looks;
    for (const InlineMarkdown::Run &run : InlineMarkdown::runs(source)) {
        if (!run.link.isEmpty()) {
            segments.append({ run.text, lookOf(run, charFormat, look.link), blockFormat, false });
            continue;
        }
        std::optional<QTextCharFormat> &shared
            = looks[(run.strong ? 1 : 0) | (run.emphasis ? 2 : 0) | (run.code ? 4 : 0)];
        if (!shared)
            shared = lookOf(run, charFormat, look.link);
        segments.append({ run.text, *shared, blockFormat, false });
    }
}

int MarkdownDocument::setText(const QString &text)
{
    if (text == m_text && !m_segments.isEmpty())
        return m_document.characterCount();
    return apply(text);
}

int MarkdownDocument::apply(const QString &text)
{
    // What is settled stays while the text still begins with it.
    const qsizetype settledEnd = m_settled.end;
    if (settledEnd > text.size()
        || QStringView(text).first(settledEnd) != QStringView(m_text).first(settledEnd))
        m_settled = Settled{};
    m_text = text;
    Settled next;
    QList<Segment> tail = tailOf(text, next);
    const qsizetype base = m_settled.segments;

    // The first segment that differs. When it only changed its text, its
    // block stays and the document is edited from the first character that
    // differs; otherwise from where the segment (or its block) begins.
    const qsizetype oldTail = m_segments.size() - base;
    qsizetype same = 0;
    while (same < oldTail && same < tail.size() && m_segments[base + same].sameLook(tail[same])
        && m_segments[base + same].text == tail[same].text)
        ++same;
    if (same == tail.size() && same == oldTail) {
        m_settled = next;
        return m_document.characterCount();
    }
    int position = m_settled.position; // after the text of the segments that stay
    for (qsizetype i = 0; i < same; ++i)
        position += lengthOf(tail[i], base + i);
    const bool textOnly
        = same < oldTail && same < tail.size() && m_segments[base + same].sameLook(tail[same]);
    qsizetype keep = 0;
    int from = position;
    if (textOnly) {
        const QString &was = m_segments[base + same].text;
        const QString &is = tail[same].text;
        while (keep < was.size() && keep < is.size() && was[keep] == is[keep])
            ++keep;
        from += (tail[same].startsBlock && base + same > 0 ? 1 : 0) + int(keep);
    }
    m_segments.resize(base);
    m_segments.append(std::move(tail));
    write(from, base + same, textOnly ? keep : -1, m_segments);
    m_settled = next;
    if (m_openParagraph)
        chooseCut();
    return from;
}

void MarkdownDocument::applyCuts(QList<Segment> &tail, qsizetype first)
{
    QTextBlockFormat continued = tail[first].blockFormat;
    continued.setTopMargin(0);
    continued.setProperty(continuationProperty, true);
    QString shown;
    for (qsizetype j = first + 1; j < tail.size(); ++j)
        shown += tail[j].text;
    qsizetype cut = 0;
    qsizetype offset = 0; // of the segment's text in the paragraph's shown text
    for (qsizetype i = first + 1; i < tail.size() && cut < m_cuts.offsets.size(); ++i) {
        const qsizetype at = m_cuts.offsets[cut] - offset;
        if (at >= tail[i].text.size()) {
            offset += tail[i].text.size();
            continue;
        }
        // The text a cut was chosen in may have changed since (a marker
        // that closed late): it then goes, with those after it.
        const qsizetype inShown = m_cuts.offsets[cut];
        const QString &before = m_cuts.before[cut];
        if (shown.at(inShown) != u' ' || shown.mid(inShown - before.size(), before.size()) != before) {
            m_cuts.offsets.resize(cut);
            m_cuts.before = m_cuts.before.first(cut);
            break;
        }
        Segment rest{ tail[i].text.mid(at + 1), tail[i].charFormat, continued, true };
        tail[i].text.truncate(at);
        for (qsizetype j = i + 1; j < tail.size(); ++j)
            tail[j].blockFormat = continued;
        offset += at + 1;
        tail.insert(i + 1, rest);
        ++cut;
    }
}

void MarkdownDocument::chooseCut()
{
    const QTextBlock last = m_document.lastBlock();
    if (last.length() < 2 * chunkLength || m_document.textWidth() <= 0)
        return;
    m_document.documentLayout()->blockBoundingRect(last); // laid out
    const QTextLayout *layout = last.layout();
    const QString text = last.text();
    // A line end well inside the block, where a space ends the line: the
    // last lines stay in the growing block, which shrinks to them.
    for (int k = layout->lineCount() - 3; k > 0; --k) {
        const QTextLine line = layout->lineAt(k);
        const int end = line.textStart() + line.textLength();
        if (end < chunkLength)
            return;
        if (end >= text.size() || text.at(end - 1) != u' ' || (end >= 2 && text.at(end - 2) == u' '))
            continue;
        const qsizetype blockStart = m_cuts.offsets.isEmpty() ? 0 : m_cuts.offsets.last() + 1;
        const qsizetype at = blockStart + end - 1;
        m_cuts.offsets.append(at);
        m_cuts.before.append(text.mid(qMax(0, end - 1 - 16), qMin(16, end - 1)));
        // Written now: the block is cut before the next flush adds to it.
        apply(m_text);
        return;
    }
}

QString MarkdownDocument::plainText(const QTextDocument &document)
{
    QString text = document.toPlainText();
    for (QTextBlock block = document.begin().next(); block.isValid(); block = block.next()) {
        if (block.blockFormat().boolProperty(continuationProperty) && block.position() > 0)
            text[block.position() - 1] = u' ';
    }
    return text;
}

void MarkdownDocument::write(int from, qsizetype segment, qsizetype offset, const QList<Segment> &segments)
{
    QTextCursor cursor(&m_document);
    cursor.beginEditBlock();
    cursor.setPosition(from);
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    if (segments.isEmpty())
        cursor.setBlockFormat(QTextBlockFormat());
    // Removing the blocks after an empty one leaves it with the format of
    // the first block removed: give it back its own.
    qsizetype owner = offset >= 0 ? segment : segment - 1;
    while (owner > 0 && !segments.value(owner).startsBlock)
        --owner;
    if (owner >= 0 && owner < segments.size()) {
        if (cursor.blockFormat() != segments[owner].blockFormat)
            cursor.setBlockFormat(segments[owner].blockFormat);
        if (cursor.blockCharFormat() != segments[owner].charFormat)
            cursor.setBlockCharFormat(segments[owner].charFormat);
    }
    for (qsizetype i = segment; i < segments.size(); ++i) {
        const Segment &piece = segments[i];
        if (i == segment && offset >= 0) { // its block stays
            cursor.insertText(piece.text.mid(offset), piece.charFormat);
            continue;
        }
        if (piece.startsBlock) {
            if (i == 0) {
                cursor.setBlockFormat(piece.blockFormat);
                cursor.setBlockCharFormat(piece.charFormat);
            } else {
                cursor.insertBlock(piece.blockFormat, piece.charFormat);
            }
        }
        if (!piece.text.isEmpty())
            cursor.insertText(piece.text, piece.charFormat);
    }
    cursor.endEditBlock();
}
