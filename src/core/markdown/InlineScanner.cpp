#include "core/markdown/InlineNodes.h"
#include "core/markdown/InlineRuns.h"

#include <QHash>
#include <QStringView>
#include <algorithm>
#include <optional>
#include <vector>

namespace InlineMarkdown::detail {
namespace {

bool isAsciiPunctuation(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'!' && u <= u'/') || (u >= u':' && u <= u'@') || (u >= u'[' && u <= u'`')
        || (u >= u'{' && u <= u'~');
}

bool isPunctuation(QChar c)
{
    return c.isPunct() || c.isSymbol();
}

// A run of '*' or '_' that may open or close emphasis. Entries form a doubly
// linked list in source order, so an entry's index also orders it.
struct DelimiterEntry {
    qsizetype node = 0;
    qsizetype originalLength = 0;
    bool canOpen = false;
    bool canClose = false;
    int prev = -1;
    int next = -1;
};

struct BracketEntry {
    qsizetype node = 0;
    int delimiterTop = -1; // the last delimiter entry before the bracket
};

struct LinkDestination {
    QString url;
    qsizetype end = 0; // just past the closing parenthesis
};

struct BacktickRun {
    qsizetype start = 0;
    qsizetype length = 0;
    int nextSameLength = -1; // index of the next run of the same length
};

class Scanner
{
public:
    explicit Scanner(const QString &text)
        : m_src(text)
    {
        findBacktickRuns();
    }
    QList<Node> run();

private:
    void findBacktickRuns();
    void appendLiteral(qsizetype start, qsizetype length);
    void appendNode(Node::Kind kind);
    void scanBackslash();
    void scanBackticks();
    void scanDelimiterRun();
    void scanOpenBracket();
    void scanCloseBracket();
    std::optional<LinkDestination> linkDestination(qsizetype pos);
    void processEmphasis(int bottom);
    bool matchCloser(int closer, int bottom, int openersBottom);
    void unlink(int entry);

    QStringView m_src;
    qsizetype m_pos = 0;
    QList<Node> m_nodes;
    std::vector<DelimiterEntry> m_delimiters;
    int m_head = -1;
    int m_tail = -1;
    std::vector<BracketEntry> m_brackets;
    std::vector<BacktickRun> m_runs;
    size_t m_runIndex = 0;
    // A destination scan that failed at this position makes any later scan
    // that starts before it fail as well; this keeps the scanner linear.
    qsizetype m_failedDestinationEnd = -1;
};

QList<Node> Scanner::run()
{
    while (m_pos < m_src.size()) {
        switch (m_src[m_pos].unicode()) {
        case u'\\':
            scanBackslash();
            break;
        case u'\n':
            appendNode(Node::Kind::LineBreak);
            ++m_pos;
            break;
        case u'`':
            scanBackticks();
            break;
        case u'*':
        case u'_':
            scanDelimiterRun();
            break;
        case u'[':
            scanOpenBracket();
            break;
        case u']':
            scanCloseBracket();
            break;
        default:
            appendLiteral(m_pos, 1);
            ++m_pos;
        }
    }
    processEmphasis(-1);
    return std::move(m_nodes);
}

void Scanner::findBacktickRuns()
{
    for (qsizetype pos = 0; pos < m_src.size();) {
        if (m_src[pos] != u'`') {
            ++pos;
            continue;
        }
        qsizetype end = pos;
        while (end < m_src.size() && m_src[end] == u'`')
            ++end;
        m_runs.push_back({ pos, end - pos, -1 });
        pos = end;
    }
    QHash<qsizetype, int> laterRunOfLength;
    for (int i = int(m_runs.size()) - 1; i >= 0; --i) {
        m_runs[i].nextSameLength = laterRunOfLength.value(m_runs[i].length, -1);
        laterRunOfLength.insert(m_runs[i].length, i);
    }
}

void Scanner::appendLiteral(qsizetype start, qsizetype length)
{
    if (!m_nodes.isEmpty()) {
        Node &last = m_nodes.last();
        if (last.kind == Node::Kind::Text && last.start + last.length == start) {
            last.length += length;
            return;
        }
    }
    Node node;
    node.start = start;
    node.length = length;
    m_nodes.append(node);
}

void Scanner::appendNode(Node::Kind kind)
{
    Node node;
    node.kind = kind;
    m_nodes.append(node);
}

void Scanner::scanBackslash()
{
    if (m_pos + 1 < m_src.size() && isAsciiPunctuation(m_src[m_pos + 1])) {
        appendLiteral(m_pos + 1, 1);
        m_pos += 2;
        return;
    }
    appendLiteral(m_pos, 1);
    ++m_pos;
}

void Scanner::scanBackticks()
{
    while (m_runs[m_runIndex].start + m_runs[m_runIndex].length <= m_pos)
        ++m_runIndex;
    const BacktickRun &opener = m_runs[m_runIndex];
    const qsizetype openerEnd = opener.start + opener.length;
    // What is left of a run after an escaped backtick stays literal.
    if (opener.start != m_pos || opener.nextSameLength < 0) {
        appendLiteral(m_pos, openerEnd - m_pos);
        m_pos = openerEnd;
        return;
    }
    const BacktickRun &closer = m_runs[opener.nextSameLength];
    qsizetype start = openerEnd;
    qsizetype length = closer.start - openerEnd;
    const QStringView content = m_src.sliced(start, length);
    const bool allSpaces = std::all_of(content.begin(), content.end(), [](QChar c) { return c == u' '; });
    if (length >= 2 && content.front() == u' ' && content.back() == u' ' && !allSpaces) {
        ++start;
        length -= 2;
    }
    Node node;
    node.kind = Node::Kind::Code;
    node.start = start;
    node.length = length;
    m_nodes.append(node);
    m_pos = closer.start + closer.length;
    m_runIndex = size_t(opener.nextSameLength) + 1;
}

void Scanner::scanDelimiterRun()
{
    const QChar marker = m_src[m_pos];
    qsizetype end = m_pos;
    while (end < m_src.size() && m_src[end] == marker)
        ++end;
    // The ends of the text count as white space.
    const QChar before = m_pos > 0 ? m_src[m_pos - 1] : QChar(u' ');
    const QChar after = end < m_src.size() ? m_src[end] : QChar(u' ');
    const bool leftFlanking
        = !after.isSpace() && (!isPunctuation(after) || before.isSpace() || isPunctuation(before));
    const bool rightFlanking
        = !before.isSpace() && (!isPunctuation(before) || after.isSpace() || isPunctuation(after));
    bool canOpen = leftFlanking;
    bool canClose = rightFlanking;
    if (marker == u'_') { // no emphasis inside a word such as snake_case_name
        canOpen = leftFlanking && (!rightFlanking || isPunctuation(before));
        canClose = rightFlanking && (!leftFlanking || isPunctuation(after));
    }

    Node node;
    node.kind = Node::Kind::Delimiter;
    node.start = m_pos;
    node.length = end - m_pos;
    node.marker = marker;
    m_nodes.append(node);
    if (canOpen || canClose) {
        const int index = int(m_delimiters.size());
        m_delimiters.push_back({ m_nodes.size() - 1, end - m_pos, canOpen, canClose, m_tail, -1 });
        if (m_tail >= 0)
            m_delimiters[m_tail].next = index;
        else
            m_head = index;
        m_tail = index;
    }
    m_pos = end;
}

void Scanner::scanOpenBracket()
{
    Node node;
    node.kind = Node::Kind::LinkStart;
    node.start = m_pos;
    m_nodes.append(node);
    m_brackets.push_back({ m_nodes.size() - 1, m_tail });
    ++m_pos;
}

void Scanner::scanCloseBracket()
{
    std::optional<LinkDestination> destination;
    if (!m_brackets.empty())
        destination = linkDestination(m_pos + 1);
    if (!destination || !isAllowedLink(destination->url)) {
        if (!m_brackets.empty())
            m_brackets.pop_back();
        appendLiteral(m_pos, 1);
        ++m_pos;
        return;
    }
    const BracketEntry opener = m_brackets.back();
    m_nodes[opener.node].url = destination->url;
    processEmphasis(opener.delimiterTop);
    appendNode(Node::Kind::LinkEnd);
    m_pos = destination->end;
    // A link holds no other link: earlier open brackets stay literal.
    m_brackets.clear();
}

std::optional<LinkDestination> Scanner::linkDestination(qsizetype pos)
{
    const auto skipBlanks = [this](qsizetype p) {
        while (p < m_src.size() && (m_src[p] == u' ' || m_src[p] == u'\t'))
            ++p;
        return p;
    };
    if (pos >= m_src.size() || m_src[pos] != u'(')
        return std::nullopt;
    qsizetype p = skipBlanks(pos + 1);
    if (p < m_failedDestinationEnd)
        return std::nullopt;
    QString url;
    int depth = 0;
    for (; p < m_src.size() && !m_src[p].isSpace(); ++p) {
        const QChar c = m_src[p];
        if (c == u'\\' && p + 1 < m_src.size() && isAsciiPunctuation(m_src[p + 1])) {
            url += m_src[++p];
            continue;
        }
        if (c == u')' && depth == 0)
            break;
        depth += c == u'(' ? 1 : c == u')' ? -1 : 0;
        url += c;
    }
    p = skipBlanks(p);
    if (p >= m_src.size() || m_src[p] != u')' || depth != 0) {
        m_failedDestinationEnd = p;
        return std::nullopt;
    }
    return LinkDestination{ url, p + 1 };
}

// Pairs the delimiter runs above bottom into emphasis, the way CommonMark
// does: each closer takes the nearest fitting opener, and the lowest place
// where an opener of each kind could still be is remembered so that no run
// is searched twice.
void Scanner::processEmphasis(int bottom)
{
    int openersBottom[2][2][3];
    std::fill(&openersBottom[0][0][0], &openersBottom[0][0][0] + 12, bottom);
    int current = bottom < 0 ? m_head : m_delimiters[bottom].next;
    while (current >= 0) {
        const DelimiterEntry &closer = m_delimiters[current];
        const int next = closer.next;
        if (!closer.canClose) {
            current = next;
            continue;
        }
        int &lowest = openersBottom[m_nodes[closer.node].marker == u'*' ? 0 : 1][closer.canOpen ? 1 : 0]
                                   [closer.originalLength % 3];
        if (matchCloser(current, bottom, lowest)) {
            // The closer may have characters left for an opener further down.
            if (m_nodes[m_delimiters[current].node].length == 0) {
                unlink(current);
                current = next;
            }
            continue;
        }
        lowest = closer.prev;
        if (!closer.canOpen)
            unlink(current);
        current = next;
    }
    if (bottom < 0) {
        m_head = m_tail = -1;
    } else {
        m_delimiters[bottom].next = -1;
        m_tail = bottom;
    }
}

bool Scanner::matchCloser(int closerIndex, int bottom, int openersBottom)
{
    DelimiterEntry &closer = m_delimiters[closerIndex];
    Node &closerNode = m_nodes[closer.node];
    const int floor = std::max(bottom, openersBottom);
    int openerIndex = closer.prev;
    for (; openerIndex >= 0 && openerIndex > floor; openerIndex = m_delimiters[openerIndex].prev) {
        const DelimiterEntry &opener = m_delimiters[openerIndex];
        if (!opener.canOpen || m_nodes[opener.node].marker != closerNode.marker)
            continue;
        const bool eitherBoth = opener.canClose || closer.canOpen;
        const qsizetype sum = opener.originalLength + closer.originalLength;
        const bool bothMultiplesOfThree = opener.originalLength % 3 == 0 && closer.originalLength % 3 == 0;
        if (eitherBoth && sum % 3 == 0 && !bothMultiplesOfThree)
            continue;
        break;
    }
    if (openerIndex < 0 || openerIndex <= floor)
        return false;

    DelimiterEntry &opener = m_delimiters[openerIndex];
    Node &openerNode = m_nodes[opener.node];
    const int used = openerNode.length >= 2 && closerNode.length >= 2 ? 2 : 1;
    const Tag tag = used == 2 ? Tag::Strong : Tag::Emphasis;
    openerNode.length -= used;
    closerNode.length -= used;
    openerNode.opens.prepend(tag);
    closerNode.closes.append(tag);
    // Runs between the pair can no longer match anything.
    opener.next = closerIndex;
    closer.prev = openerIndex;
    if (openerNode.length == 0)
        unlink(openerIndex);
    return true;
}

void Scanner::unlink(int entry)
{
    DelimiterEntry &e = m_delimiters[entry];
    if (e.prev >= 0)
        m_delimiters[e.prev].next = e.next;
    else
        m_head = e.next;
    if (e.next >= 0)
        m_delimiters[e.next].prev = e.prev;
    else
        m_tail = e.prev;
}

} // namespace

QList<Node> scan(const QString &text)
{
    return Scanner(text).run();
}

} // namespace InlineMarkdown::detail
