#include "core/markdown/MarkdownParser.h"

#include <QTest>

using Blocks = QList<MDBlock>;

namespace {

MDBlock para(const QString &text)
{
    return MDBlock::paragraph(text);
}

MDBlock bullet(const QString &text, int indent = 0)
{
    return MDBlock::bullet(QStringLiteral("•"), text, indent);
}

QString describeAll(const Blocks &blocks)
{
    QStringList parts;
    for (const MDBlock &block : blocks)
        parts << block.describe();
    return parts.join(QStringLiteral(" | "));
}

} // namespace

class TestMarkdownParser : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void blocks_data();
    void blocks();
    void crlfParsesLikeLf();
    void everyPrefixParses();
    void settledPoint_data();
    void settledPoint();
};

void TestMarkdownParser::blocks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Blocks>("expected");

    QTest::newRow("empty") << QString() << Blocks{};
    QTest::newRow("only blank lines") << "\n  \n\t\n" << Blocks{};
    QTest::newRow("one paragraph") << "Hello" << Blocks{ para("Hello") };
    QTest::newRow("paragraphs split by blank line") << "a\nb\n\nc" << Blocks{ para("a\nb"), para("c") };
    QTest::newRow("paragraph keeps leading spaces") << "a\n   b  " << Blocks{ para("a\n   b  ") };

    QTest::newRow("heading 1") << "# Title" << Blocks{ MDBlock::heading(1, "Title") };
    QTest::newRow("heading 6 trimmed") << "  ######   Six  " << Blocks{ MDBlock::heading(6, "Six") };
    QTest::newRow("seven hashes") << "####### Seven" << Blocks{ para("####### Seven") };
    QTest::newRow("hashtag") << "#tag" << Blocks{ para("#tag") };
    QTest::newRow("hash alone") << "#" << Blocks{ para("#") };
    QTest::newRow("tab after hash") << "#\tx" << Blocks{ para("#\tx") };
    QTest::newRow("heading ends paragraph")
        << "intro\n## Part\nmore" << Blocks{ para("intro"), MDBlock::heading(2, "Part"), para("more") };

    QTest::newRow("closed fence") << "```text\nlet x = 1\n```"
                                  << Blocks{ MDBlock::code("text", "let x = 1") };
    QTest::newRow("fence language trimmed")
        << "  ```  swift \t\nx\n```" << Blocks{ MDBlock::code("swift", "x") };
    QTest::newRow("unterminated fence") << "```\nabc" << Blocks{ MDBlock::code("", "abc") };
    QTest::newRow("opening fence last") << "para\n```py" << Blocks{ para("para"), MDBlock::code("py", "") };
    QTest::newRow("fence keeps raw lines")
        << "```\n  indented\n# not a heading\n- no bullet\n\n> no quote\n```"
        << Blocks{ MDBlock::code("", "  indented\n# not a heading\n- no bullet\n\n> no quote") };
    QTest::newRow("closing fence ignores rest")
        << "```\na\n``` trailing\nafter" << Blocks{ MDBlock::code("", "a"), para("after") };
    QTest::newRow("indented closing fence") << "```\na\n   ```" << Blocks{ MDBlock::code("", "a") };
    QTest::newRow("fence interrupts paragraph")
        << "x\n```\ny\n```\nz" << Blocks{ para("x"), MDBlock::code("", "y"), para("z") };
    QTest::newRow("two backticks are text") << "``x``" << Blocks{ para("``x``") };

    QTest::newRow("bullet dash") << "- item" << Blocks{ bullet("item") };
    QTest::newRow("bullet star and plus") << "* a\n+ b" << Blocks{ bullet("a"), bullet("b") };
    QTest::newRow("bullet two spaces") << "  - item" << Blocks{ bullet("item", 1) };
    QTest::newRow("bullet four spaces") << "    * deep" << Blocks{ bullet("deep", 2) };
    QTest::newRow("bullet three spaces rounds down") << "   - odd" << Blocks{ bullet("odd", 1) };
    QTest::newRow("bullet after tab") << "\t- tab" << Blocks{ bullet("tab", 0) };
    QTest::newRow("bullet text kept after marker") << "-  two spaces" << Blocks{ bullet(" two spaces") };
    QTest::newRow("dash without space") << "-item" << Blocks{ para("-item") };
    QTest::newRow("lone dash") << "- " << Blocks{ para("- ") };
    QTest::newRow("paragraph then bullet") << "Intro\n- item" << Blocks{ para("Intro"), bullet("item") };

    QTest::newRow("numbered dot") << "1. one" << Blocks{ MDBlock::bullet("1.", "one", 0) };
    QTest::newRow("numbered paren") << "12) twelve" << Blocks{ MDBlock::bullet("12.", "twelve", 0) };
    QTest::newRow("numbered three digits indented")
        << "  100. hundred" << Blocks{ MDBlock::bullet("100.", "hundred", 1) };
    QTest::newRow("four digits") << "1234. big" << Blocks{ para("1234. big") };
    QTest::newRow("decimal number") << "3.5 units" << Blocks{ para("3.5 units") };
    QTest::newRow("no space after dot") << "2.x" << Blocks{ para("2.x") };
    QTest::newRow("arabic-indic digits") << QString::fromUtf8(
        "\u0661\u0662. item") << Blocks{ MDBlock::bullet(QString::fromUtf8("\u0661\u0662."), "item", 0) };
    QTest::newRow("roman numeral character") << QString::fromUtf8(
        "\u2163) four") << Blocks{ MDBlock::bullet(QString::fromUtf8("\u2163."), "four", 0) };
    QTest::newRow("numeral outside the BMP") << QString::fromUtf8(
        "\U0001D7D9. math") << Blocks{ MDBlock::bullet(QString::fromUtf8("\U0001D7D9."), "math", 0) };

    QTest::newRow("quote") << "> quoted" << Blocks{ MDBlock::quote("quoted") };
    QTest::newRow("indented quote") << "   > quoted  " << Blocks{ MDBlock::quote("quoted") };
    QTest::newRow("quote without space") << ">no space" << Blocks{ para(">no space") };
    QTest::newRow("bare quote marker") << ">" << Blocks{ para(">") };
    QTest::newRow("quote lines are separate")
        << "> a\n> b" << Blocks{ MDBlock::quote("a"), MDBlock::quote("b") };

    QTest::newRow("only one CR stripped") << "a\r\r\nb" << Blocks{ para("a\r\nb") };
    QTest::newRow("no-break space is content")
        << QString::fromUtf8("\u00a0# x") << Blocks{ para(QString::fromUtf8("\u00a0# x")) };
    QTest::newRow("mixed reply") << "# T\n\nSome *text*.\n\n1. a\n2. b\n\n```c\nint x;\n```\n> note"
                                 << Blocks{ MDBlock::heading(1, "T"), para("Some *text*."),
                                        MDBlock::bullet("1.", "a", 0), MDBlock::bullet("2.", "b", 0),
                                        MDBlock::code("c", "int x;"), MDBlock::quote("note") };
}

void TestMarkdownParser::blocks()
{
    QFETCH(QString, text);
    QFETCH(Blocks, expected);
    const Blocks actual = MarkdownParser::blocks(text);
    QCOMPARE(describeAll(actual), describeAll(expected));
    QCOMPARE(actual, expected);
}

void TestMarkdownParser::crlfParsesLikeLf()
{
    const QString lf = "# Title\n\nText line\nsecond\n\n- a\n  - b\n\n```js\n  x();\n```\n> q\n";
    QString crlf = lf;
    crlf.replace("\n", "\r\n");
    QCOMPARE(MarkdownParser::blocks(crlf), MarkdownParser::blocks(lf));
}

// A streamed reply is parsed at every flush: as it grows, only the last
// block of the previous parse may change, which is what lets the view keep
// the widgets of the others.
void TestMarkdownParser::everyPrefixParses()
{
    const QString reply = "# Plan\nSome text\n\n```py\ndef f():\n    return 1\n```\n- one\n- two\n> end";
    Blocks previous;
    for (qsizetype n = 0; n <= reply.size(); ++n) {
        const Blocks current = MarkdownParser::blocks(reply.left(n));
        for (qsizetype i = 0; i + 1 < previous.size(); ++i)
            QCOMPARE(current.value(i), previous[i]);
        previous = current;
    }
    QCOMPARE(previous.size(), 6);
}

// Where a reply may be cut for its next parse: nothing before the point may
// change whatever follows.
void TestMarkdownParser::settledPoint_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("resumeInFence");
    QTest::addColumn<int>("end");
    QTest::addColumn<int>("blocks");
    QTest::addColumn<int>("fenceLines");
    QTest::addColumn<bool>("inFence");
    QTest::newRow("a paragraph still open") << "# T\n\npara" << false << 5 << 1 << 0 << false;
    QTest::newRow("a paragraph's lines") << "one\ntwo\n" << false << 0 << 0 << 0 << false;
    QTest::newRow("list items are whole at their line's end")
        << "- a\n- b\n- c" << false << 8 << 2 << 0 << false;
    // The fence's last complete line may yet take the panel's bottom edge.
    QTest::newRow("inside a fence") << "```c\na\nb\nc" << false << 7 << 0 << 1 << true;
    QTest::newRow("a fence of one line") << "```c\na\n" << false << 0 << 0 << 0 << false;
    QTest::newRow("after the fence closed") << "```c\na\n```\nx" << false << 11 << 1 << 0 << false;
    QTest::newRow("resumed inside a fence that closes") << "b\nc\n```\nd" << true << 8 << 1 << 0 << false;
}

void TestMarkdownParser::settledPoint()
{
    QFETCH(QString, text);
    QFETCH(bool, resumeInFence);
    QFETCH(int, end);
    QFETCH(int, blocks);
    QFETCH(int, fenceLines);
    QFETCH(bool, inFence);
    const MarkdownParser::Resume from{ resumeInFence, resumeInFence ? QStringLiteral("c") : QString() };
    const MarkdownParser::Parsed parsed = MarkdownParser::parse(text, from);
    QCOMPARE(parsed.settledEnd, end);
    QCOMPARE(parsed.settledBlocks, blocks);
    QCOMPARE(parsed.settledFenceLines, fenceLines);
    QCOMPARE(parsed.settledState.inFence, inFence);
    if (resumeInFence) {
        QVERIFY(parsed.blocks.first().continued);
        QCOMPARE(parsed.blocks.first().body, QStringLiteral("b\nc"));
    }
}

QTEST_APPLESS_MAIN(TestMarkdownParser)
#include "test_markdown_parser.moc"
