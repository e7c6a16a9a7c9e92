// A reply streamed into a document in pieces of any size must end up, and be
// at every step, the document that its text gives when rendered at once.

#include "core/markdown/MarkdownDocument.h"

#include <QAbstractTextDocumentLayout>
#include <QRandomGenerator>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

namespace {

// The first difference between two documents, or nothing.
QString difference(const QTextDocument &streamed, const QTextDocument &whole)
{
    QTextBlock a = streamed.begin();
    QTextBlock b = whole.begin();
    for (int index = 0; a.isValid() || b.isValid(); ++index, a = a.next(), b = b.next()) {
        if (!a.isValid() || !b.isValid())
            return QStringLiteral("block count differs at %1").arg(index);
        if (a.text() != b.text())
            return QStringLiteral("block %1: \"%2\" against \"%3\"").arg(index).arg(a.text(), b.text());
        if (a.blockFormat() != b.blockFormat())
            return QStringLiteral("block %1 (\"%2\"): its format differs").arg(index).arg(a.text());
        QTextBlock::iterator x = a.begin();
        QTextBlock::iterator y = b.begin();
        for (; !x.atEnd() || !y.atEnd(); ++x, ++y) {
            if (x.atEnd() || y.atEnd() || x.fragment().text() != y.fragment().text()
                || x.fragment().charFormat() != y.fragment().charFormat())
                return QStringLiteral("block %1 (\"%2\"): its runs differ").arg(index).arg(a.text());
        }
    }
    return {};
}

} // namespace

class MarkdownDocumentTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void streamedEqualsWhole_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("streamFrom"); // what was written before the first flush
        QTest::newRow("blocks of every kind") << QStringLiteral(
            "# Title\n\nSome *text* with `code` and a [link](https://example.org).\nSecond line.\n\n"
            "- one\n  - two **strong**\n3) three\n\n> quoted _words_\n\n```sh\nls -l\n  echo "
            "hi\n```\n\nThe end.") << 0;
        const QString sentence
            = QStringLiteral("A sentence that goes on, with **strong words** and `code`, ");
        QTest::newRow("one long paragraph") << sentence.repeated(40) << 0;
        // Past some thousands of characters a paragraph is laid out more
        // cheaply, which changes the look of all of it.
        QTest::newRow("a paragraph that outgrows shaping")
            << sentence.repeated(75) + QStringLiteral("\n\nThen *another*.") << 3800;
        QTest::newRow("markers that close late")
            << QStringLiteral("**bold that runs on and on** then *emphasis* and `code that ends late` done")
            << 0;
        QTest::newRow("a line that becomes another kind")
            << QStringLiteral("Intro\n1. item\n12) twelve\n####### not a heading\n# heading\n> quote") << 0;
        QTest::newRow("an unfinished fence")
            << QStringLiteral("Look:\n```python\nprint(1)\n\n    x = 2\n") << 0;
        QTest::newRow("empty lines and a lone marker") << QStringLiteral("\n\n-\n- \n>\n> \n```\n```\n") << 0;
        // Only what follows the settled point is parsed again: inside a
        // fence, the lines but its last two; a fence that closes right
        // after a line must give that line the panel's bottom edge.
        QTest::newRow("fences after one another, settling as they grow") << QStringLiteral(
            "Intro\n```cpp\nint a;\nint b;\nint c;\n```\nText\n```\nx\ny\n```\n- item\n- two\n\n"
            "```\none\n```\n> end") << 0;
        QTest::newRow("a long fence that never closes")
            << QStringLiteral("```python\n") + QStringLiteral("print(\"line\")\n").repeated(60) << 0;
    }
    void streamedEqualsWhole()
    {
        QFETCH(QString, reply);
        QFETCH(int, streamFrom);
        for (quint32 seed = 1; seed <= 4; ++seed) {
            QRandomGenerator pieces(seed);
            QTextDocument streamed;
            MarkdownDocument document(streamed);
            QTextDocument whole;
            document.setText(reply.left(streamFrom));
            for (qsizetype end = streamFrom; end < reply.size();) {
                end = std::min(reply.size(), end + qsizetype(pieces.bounded(1, seed == 1 ? 3 : 40)));
                const QString text = reply.left(end);
                document.setText(text);
                MarkdownDocument::render(whole, text);
                const QString diff = difference(streamed, whole);
                QVERIFY2(
                    diff.isEmpty(), qPrintable(QStringLiteral("after %1 characters: %2").arg(end).arg(diff)));
            }
        }
    }

    // Each code line says which block it belongs to, so that back-to-back
    // blocks stay apart; only a block's last line carries the bottom padding.
    void codeLinesKnowTheirBlock()
    {
        QTextDocument document;
        MarkdownDocument(document).setText(QStringLiteral("```sh\na\nb\n```\n```\nc\n```\nafter"));
        QStringList seen;
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
            const QTextBlockFormat format = block.blockFormat();
            if (!format.hasProperty(MarkdownDocument::codeBlockProperty)) {
                QCOMPARE(format.topMargin() >= MarkdownDocument::codePadding, true); // after a panel
                continue;
            }
            seen << QStringLiteral("%1:%2:%3:%4")
                        .arg(block.text())
                        .arg(format.intProperty(MarkdownDocument::codeBlockProperty))
                        .arg(format.stringProperty(MarkdownDocument::codeLanguageProperty))
                        .arg(format.bottomMargin() > 0 ? "last" : "");
        }
        QCOMPARE(seen, (QStringList{ "a:0:sh:", "b:0:sh:last", "c:1::last" }));
    }

    // A long paragraph streamed at a width is kept in blocks cut at line
    // ends; it must read and look as the paragraph in one block: the same
    // lines at the same heights, the same text.
    void aLongParagraphCutAtLineEndsLooksWhole()
    {
        const QString sentence = QStringLiteral(
            "Sentence after sentence, with **strong words** and a [link](https://example.org) in it. ");
        const QString reply = QStringLiteral("# Title\n\n") + sentence.repeated(200);
        const auto lines = [](QTextDocument &document) {
            document.documentLayout()->documentSize();
            QStringList seen;
            for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
                const QTextLayout *layout = block.layout();
                for (int i = 0; i < layout->lineCount(); ++i) {
                    const QTextLine line = layout->lineAt(i);
                    seen << QStringLiteral("%1 %2")
                                .arg(layout->position().y() + line.y())
                                .arg(block.text().mid(line.textStart(), line.textLength()).trimmed());
                }
            }
            return seen;
        };
        QTextDocument streamed;
        streamed.setTextWidth(500);
        MarkdownDocument document(streamed);
        QRandomGenerator pieces(7);
        for (qsizetype end = 0; end < reply.size();) {
            end = std::min(reply.size(), end + qsizetype(pieces.bounded(40, 121)));
            document.setText(reply.left(end));
        }
        QVERIFY(document.hasCuts());
        QVERIFY(streamed.blockCount() > 3);
        QTextDocument whole; // laid out only after it is written: never cut
        MarkdownDocument::render(whole, reply);
        whole.setTextWidth(500);
        QCOMPARE(lines(streamed), lines(whole));
        QCOMPARE(MarkdownDocument::plainText(streamed), MarkdownDocument::plainText(whole));
        // A new width: written again in one block.
        document.rewrite();
        QVERIFY(!document.hasCuts());
        QCOMPARE(MarkdownDocument::plainText(streamed), MarkdownDocument::plainText(whole));
    }

    // Text that changes before the settled point (not a stream's growth) is
    // parsed again from its start.
    void anEarlierChangeParsesAgain()
    {
        const QString first = QStringLiteral("# A\n\n```\nx\ny\nz\n");
        const QString second = QStringLiteral("# B\n\n- item\n```\nx\ny\nz\n");
        QTextDocument streamed;
        MarkdownDocument document(streamed);
        document.setText(first);
        document.setText(second);
        QTextDocument whole;
        MarkdownDocument::render(whole, second);
        QCOMPARE(difference(streamed, whole), QString());
    }

    // A flush that adds to the last paragraph edits only what it added.
    void appendingEditsOnlyTheEnd()
    {
        QTextDocument streamed;
        MarkdownDocument document(streamed);
        document.setText(QStringLiteral("# Title\n\nFirst paragraph.\n\nSecond"));
        const int before = streamed.characterCount();
        QCOMPARE(document.setText(QStringLiteral("# Title\n\nFirst paragraph.\n\nSecond grows")), before - 1);
    }
};

QTEST_MAIN(MarkdownDocumentTest)
#include "test_markdown_document.moc"
