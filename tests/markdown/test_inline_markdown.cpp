#include "core/markdown/InlineRuns.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

// The runs written in a compact form that names the look of each one:
// _em_ **strong** `code` {text->href}, and a break within the block as \n.
QString readBack(const QList<InlineMarkdown::Run> &runs)
{
    QString out;
    for (const InlineMarkdown::Run &look : runs) {
        QString run = QString(look.text).replace(QChar::LineSeparator, u'\n');
        if (look.code)
            run = '`' + run + '`';
        if (look.emphasis)
            run = '_' + run + '_';
        if (look.strong)
            run = "**" + run + "**";
        if (!look.link.isEmpty())
            run = '{' + run + "->" + look.link + '}';
        out += run;
    }
    return out;
}

QString plainText(const QList<InlineMarkdown::Run> &runs)
{
    QString out;
    for (const InlineMarkdown::Run &run : runs)
        out += run.text;
    return out;
}

} // namespace

class TestInlineMarkdown : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void rendering_data();
    void rendering();
    void plainTextDropsMarkup();
    void allowedLinks_data();
    void allowedLinks();
    void pathologicalInputStaysFast();
    void randomInputGivesDistinctRuns();
};

void TestInlineMarkdown::rendering_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << "Hello"
                           << "Hello";
    QTest::newRow("html is escaped") << "<b>x</b> & \"q\" 'a'"
                                     << "<b>x</b> & \"q\" 'a'";
    QTest::newRow("entity stays literal") << "&amp; &lt;"
                                          << "&amp; &lt;";
    QTest::newRow("emphasis star") << "a *b* c"
                                   << "a _b_ c";
    QTest::newRow("emphasis underscore") << "a _b_ c"
                                         << "a _b_ c";
    QTest::newRow("strong") << "**b** and __c__"
                            << "**b** and **c**";
    QTest::newRow("strong emphasis") << "***x***"
                                     << "**_x_**";
    QTest::newRow("nested") << "*a **b** c*"
                            << "_a _**_b_**_ c_";
    QTest::newRow("intraword underscore") << "snake_case_name"
                                          << "snake_case_name";
    QTest::newRow("intraword star") << "un*frigging*believable"
                                    << "un_frigging_believable";
    QTest::newRow("unbalanced star") << "2 * 3 = 6 *and"
                                     << "2 * 3 = 6 *and";
    QTest::newRow("unclosed strong") << "**open"
                                     << "**open";
    QTest::newRow("leftover marker") << "**a*"
                                     << "*_a_";
    QTest::newRow("escaped marker") << "\\*not\\*"
                                    << "*not*";
    QTest::newRow("backslash kept before letter") << "C:\\path"
                                                  << "C:\\path";
    QTest::newRow("code") << "run `ls *.txt` now"
                          << "run `ls *.txt` now";
    QTest::newRow("code keeps html literal") << "`<b>&</b>`"
                                             << "`<b>&</b>`";
    QTest::newRow("code double backticks") << "`` a`b ``"
                                           << "`a`b`";
    QTest::newRow("unclosed code") << "`open *x*"
                                   << "`open _x_";
    QTest::newRow("code wins over link") << "[a `](x)` b"
                                         << "[a `](x)` b";
    QTest::newRow("link https") << "see [docs](https://qt.io/x?a=1&b=2)"
                                << "see {docs->https://qt.io/x?a=1&b=2}";
    QTest::newRow("link mailto") << "[me](mailto:a@b.c)"
                                 << "{me->mailto:a@b.c}";
    QTest::newRow("link scheme any case") << "[x](HTTP://A.B)"
                                          << "{x->HTTP://A.B}";
    QTest::newRow("link with parentheses") << "[w](https://w.org/A_(b))"
                                           << "{w->https://w.org/A_(b)}";
    QTest::newRow("link text emphasis") << "[*a*](http://x)"
                                        << "{_a_->http://x}";
    QTest::newRow("empty link text shows url") << "[](http://x)"
                                               << "{http://x->http://x}";
    QTest::newRow("javascript not linked") << "[x](javascript:alert(1))"
                                           << "[x](javascript:alert(1))";
    QTest::newRow("relative not linked") << "[x](/etc/passwd)"
                                         << "[x](/etc/passwd)";
    QTest::newRow("file not linked") << "[x](file:///etc)"
                                     << "[x](file:///etc)";
    QTest::newRow("quote in url escaped") << "[x](http://a/\"onmouseover=\")"
                                          << "{x->http://a/\"onmouseover=\"}";
    QTest::newRow("space in destination") << "[x](http://a b)"
                                          << "[x](http://a b)";
    QTest::newRow("bracket without destination") << "[x] (http://a)"
                                                 << "[x] (http://a)";
    QTest::newRow("no link in link") << "[a [b](http://b) c](http://a)"
                                     << "[a {b->http://b} c](http://a)";
    QTest::newRow("emphasis does not cross link") << "*a [b* c](http://x)"
                                                  << "*a {b* c->http://x}";
    QTest::newRow("line breaks kept") << "a\nb *c\nd*"
                                      << "a\nb _c\nd_";
}

void TestInlineMarkdown::rendering()
{
    QFETCH(QString, source);
    QFETCH(QString, expected);
    QCOMPARE(readBack(InlineMarkdown::runs(source)), expected);
}

void TestInlineMarkdown::plainTextDropsMarkup()
{
    QCOMPARE(
        plainText(InlineMarkdown::runs("**Bold** `x<y` [site](https://a.b) *2 * 3")), "Bold x<y site *2 * 3");
    QCOMPARE(plainText(InlineMarkdown::runs("a    b\t c")), "a    b\t c");
}

void TestInlineMarkdown::allowedLinks_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("http") << "http://a" << true;
    QTest::newRow("https") << "https://a" << true;
    QTest::newRow("mailto") << "mailto:x@y" << true;
    QTest::newRow("javascript") << "javascript:x" << false;
    QTest::newRow("data") << "data:text/html,x" << false;
    QTest::newRow("file") << "file:///x" << false;
    QTest::newRow("scheme-relative") << "//evil.example" << false;
    QTest::newRow("leading space") << " https://a" << false;
}

void TestInlineMarkdown::allowedLinks()
{
    QFETCH(QString, url);
    QFETCH(bool, allowed);
    QCOMPARE(InlineMarkdown::isAllowedLink(url), allowed);
}

// Inputs that make a naive scanner quadratic (an opener searching to the end
// for every marker). No clock: a quadratic scanner makes this test hang.
void TestInlineMarkdown::pathologicalInputStaysFast()
{
    const QStringList inputs = {
        QString("*a ").repeated(20000),
        QString("[").repeated(40000) + "x",
        QString("[a](").repeated(20000),
        QString("`` ` ").repeated(10000),
        QString("**_").repeated(20000),
        QString("[a](http://x(").repeated(10000),
    };
    for (const QString &input : inputs) {
        const QString text = plainText(InlineMarkdown::runs(input));
        QVERIFY(!text.isEmpty());
        QVERIFY(text.size() <= input.size());
    }
}

// Markup characters in random order: whatever pairs up, two runs side by
// side never share a look (the document would split text for nothing), and
// no run is empty.
void TestInlineMarkdown::randomInputGivesDistinctRuns()
{
    const QString alphabet = "*_`[]()\\ \nab<&:/";
    const QStringList pieces = { "http://x", "](https://y)", "**", "__", "``", "mailto:m" };
    QRandomGenerator random(20240601);
    for (int round = 0; round < 3000; ++round) {
        QString input;
        const int length = int(random.bounded(1, 40));
        for (int i = 0; i < length; ++i) {
            if (random.bounded(6) == 0)
                input += pieces[random.bounded(int(pieces.size()))];
            else
                input += alphabet[random.bounded(int(alphabet.size()))];
        }
        const QList<InlineMarkdown::Run> runs = InlineMarkdown::runs(input);
        for (qsizetype i = 0; i < runs.size(); ++i) {
            QVERIFY2(!runs[i].text.isEmpty(), qPrintable(input));
            QVERIFY2(i == 0 || !runs[i].sameLook(runs[i - 1]), qPrintable(input));
        }
    }
}

QTEST_MAIN(TestInlineMarkdown)
#include "test_inline_markdown.moc"
