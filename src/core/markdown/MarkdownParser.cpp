#include "core/markdown/MarkdownParser.h"

#include <QStringView>

namespace {

const QStringView fenceMarker = u"```";

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

// Spaces and tabs only: other white space (a no-break space, say) is content.
QStringView trimBlanks(QStringView line)
{
    qsizetype start = 0;
    qsizetype end = line.size();
    while (start < end && isBlank(line[start]))
        ++start;
    while (end > start && isBlank(line[end - 1]))
        --end;
    return line.sliced(start, end - start);
}

int leadingSpaces(QStringView line)
{
    int count = 0;
    while (count < line.size() && line[count] == u' ')
        ++count;
    return count;
}

QString joinLines(const QList<QStringView> &lines)
{
    if (lines.isEmpty())
        return {};
    qsizetype length = lines.size() - 1;
    for (QStringView line : lines)
        length += line.size();
    QString joined;
    joined.reserve(length);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            joined += u'\n';
        joined += lines[i];
    }
    return joined;
}

// Length in UTF-16 units of the run of numeric characters that starts
// trimmed, or -1 when the run holds more than maxCount characters.
qsizetype numeralRunLength(QStringView trimmed, int maxCount)
{
    qsizetype pos = 0;
    int count = 0;
    while (pos < trimmed.size()) {
        char32_t cp = trimmed[pos].unicode();
        qsizetype width = 1;
        if (QChar::isHighSurrogate(cp) && pos + 1 < trimmed.size() && trimmed[pos + 1].isLowSurrogate()) {
            cp = QChar::surrogateToUcs4(trimmed[pos], trimmed[pos + 1]);
            width = 2;
        }
        if (!QChar::isNumber(cp))
            break;
        if (++count > maxCount)
            return -1;
        pos += width;
    }
    return pos;
}

class BlockReader
{
public:
    explicit BlockReader(const MarkdownParser::Resume &from);

    void readLine(QStringView line);
    QList<MDBlock> finish();

    // Nothing pending but, perhaps, an open fence.
    bool isSettled() const { return m_paragraphLines.isEmpty(); }
    bool inFence() const { return m_inFence; }
    const QString &fenceLang() const { return m_fenceLang; }
    qsizetype blockCount() const { return m_blocks.size(); }
    qsizetype fenceLineCount() const { return m_codeLines.size(); }

private:
    bool readHeading(QStringView trimmed);
    bool readQuote(QStringView trimmed);
    bool readBullet(QStringView trimmed, int indent);
    bool readNumberedItem(QStringView trimmed, int indent);
    void flushParagraph();
    void closeFence();

    QList<MDBlock> m_blocks;
    QList<QStringView> m_paragraphLines;
    QList<QStringView> m_codeLines;
    QString m_fenceLang;
    bool m_inFence = false;
    bool m_continuedFence = false; // the open fence was opened before this parse
};

BlockReader::BlockReader(const MarkdownParser::Resume &from)
    : m_fenceLang(from.fenceLang)
    , m_inFence(from.inFence)
    , m_continuedFence(from.inFence)
{
}

void BlockReader::readLine(QStringView line)
{
    const QStringView raw = line.endsWith(u'\r') ? line.chopped(1) : line;
    const QStringView trimmed = trimBlanks(raw);
    if (m_inFence) {
        if (trimmed.startsWith(fenceMarker))
            closeFence();
        else
            m_codeLines.append(raw);
        return;
    }
    if (trimmed.startsWith(fenceMarker)) {
        flushParagraph();
        m_fenceLang = trimBlanks(trimmed.sliced(fenceMarker.size())).toString();
        m_inFence = true;
        return;
    }
    if (trimmed.isEmpty()) {
        flushParagraph();
        return;
    }
    const int indent = leadingSpaces(raw);
    if (readHeading(trimmed) || readQuote(trimmed) || readBullet(trimmed, indent)
        || readNumberedItem(trimmed, indent))
        return;
    m_paragraphLines.append(raw);
}

bool BlockReader::readHeading(QStringView trimmed)
{
    qsizetype hashes = 0;
    while (hashes < trimmed.size() && trimmed[hashes] == u'#')
        ++hashes;
    if (hashes == 0 || hashes > 6)
        return false;
    const QStringView rest = trimmed.sliced(hashes);
    if (!rest.startsWith(u' '))
        return false;
    flushParagraph();
    m_blocks.append(MDBlock::heading(int(hashes), trimBlanks(rest).toString()));
    return true;
}

bool BlockReader::readQuote(QStringView trimmed)
{
    if (!trimmed.startsWith(u"> "))
        return false;
    flushParagraph();
    m_blocks.append(MDBlock::quote(trimmed.sliced(2).toString()));
    return true;
}

bool BlockReader::readBullet(QStringView trimmed, int indent)
{
    if (!(trimmed.startsWith(u"- ") || trimmed.startsWith(u"* ") || trimmed.startsWith(u"+ ")))
        return false;
    flushParagraph();
    m_blocks.append(MDBlock::bullet(QStringLiteral("•"), trimmed.sliced(2).toString(), indent / 2));
    return true;
}

bool BlockReader::readNumberedItem(QStringView trimmed, int indent)
{
    const qsizetype run = numeralRunLength(trimmed, 3);
    if (run <= 0)
        return false;
    const QStringView rest = trimmed.sliced(run);
    if (!(rest.startsWith(u". ") || rest.startsWith(u") ")))
        return false;
    flushParagraph();
    const QString marker = trimmed.first(run).toString() + u'.';
    m_blocks.append(MDBlock::bullet(marker, rest.sliced(2).toString(), indent / 2));
    return true;
}

void BlockReader::flushParagraph()
{
    if (m_paragraphLines.isEmpty())
        return;
    m_blocks.append(MDBlock::paragraph(joinLines(m_paragraphLines)));
    m_paragraphLines.clear();
}

void BlockReader::closeFence()
{
    MDBlock block = MDBlock::code(m_fenceLang, joinLines(m_codeLines));
    block.continued = m_continuedFence;
    m_blocks.append(block);
    m_codeLines.clear();
    m_inFence = false;
    m_continuedFence = false;
}

QList<MDBlock> BlockReader::finish()
{
    flushParagraph();
    if (m_inFence)
        closeFence();
    return std::move(m_blocks);
}

} // namespace

namespace MarkdownParser {

Parsed parse(QStringView text, const Resume &from)
{
    BlockReader reader(from);
    Parsed parsed;
    parsed.settledState = from;
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = text.indexOf(u'\n', start);
        if (end < 0)
            break;
        reader.readLine(text.sliced(start, end - start));
        if (reader.inFence() && reader.fenceLineCount() >= 2) {
            parsed.settledEnd = start;
            parsed.settledBlocks = reader.blockCount();
            parsed.settledFenceLines = reader.fenceLineCount() - 1;
            parsed.settledState = Resume{ true, reader.fenceLang() };
        } else if (!reader.inFence() && reader.isSettled()) {
            parsed.settledEnd = end + 1;
            parsed.settledBlocks = reader.blockCount();
            parsed.settledFenceLines = 0;
            parsed.settledState = Resume{};
        }
        start = end + 1;
    }
    reader.readLine(text.sliced(start));
    parsed.blocks = reader.finish();
    return parsed;
}

QList<MDBlock> blocks(const QString &text)
{
    return parse(text).blocks;
}

} // namespace MarkdownParser
