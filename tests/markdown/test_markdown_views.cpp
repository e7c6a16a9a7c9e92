// An answer shown as one document: selecting across it, copying code,
// links, wrapping, sideways code, and what a streamed flush lays out again.

#include "ui/markdown/AnswerView.h"
#include "ui/markdown/CodeCopyButton.h"

#include <QAbstractTextDocumentLayout>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QWheelEvent>

namespace {

const QString reply = "# Steps\n"
                      "First read the *notes*.\n"
                      "\n"
                      "1. Open the file\n"
                      "2. Run:\n"
                      "```sh\n"
                      "make all\n"
                      "make test\n"
                      "```\n"
                      "> Done when **green**.\n";

// Where text first starts in the view's plain text.
int positionOf(const AnswerView &view, const QString &text)
{
    const int position = int(view.toPlainText().indexOf(text));
    Q_ASSERT(position >= 0);
    return position;
}

QPoint centreOf(const AnswerView &view, int position)
{
    return view.characterRect(position).center();
}

void sendMouse(QWidget &widget, QEvent::Type type, QPoint at, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, at, widget.mapToGlobal(at),
        type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &event);
}

bool sendWheel(QWidget &widget, QPoint at, QPoint angle, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWheelEvent wheel(
        at, widget.mapToGlobal(at), QPoint(), angle, Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&widget, &wheel);
    return wheel.isAccepted();
}

// How many pixels of an image are close to a colour.
int pixelsNear(const QImage &image, const QColor &colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            count += qAbs(pixel.red() - colour.red()) + qAbs(pixel.green() - colour.green())
                    + qAbs(pixel.blue() - colour.blue())
                < 60;
        }
    }
    return count;
}

// Records the URLs that QDesktopServices would hand to the browser.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl &url) { opened << url; }
};

} // namespace

class TestMarkdownViews : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void codeCopyPutsThatBlockOnClipboardThenResets();
    void captionNamesLanguageOrCode_data();
    void captionNamesLanguageOrCode();
    void streamedFlushLeavesFinishedBlocksAlone();
    void selectionAcrossBlocksCopiesPlainText();
    void linksOpenOnlyForAllowedSchemes();
    void longTextWrapsWithoutWideningTheView();
    void longCodeScrollsSidewaysAndPassesUprightWheel();
    void followsPaletteChanges();
    void readsToAssistiveTechnology();
};

void TestMarkdownViews::codeCopyPutsThatBlockOnClipboardThenResets()
{
    AnswerView view(reply + "```python\ndef f():\n    return 1\n```\n");
    view.resize(600, view.heightForWidth(600));
    view.setCopiedInterval(100);
    view.show();
    // No widgets per block: only a Copy button per code block.
    QCOMPARE(view.findChildren<QWidget *>().size(), 2);
    CodeCopyButton *button = view.codeCopyButton(1);
    QVERIFY(button);
    QCOMPARE(button->accessibleName(), QString("Copy"));
    QVERIFY(!button->icon().isNull());
    QVERIFY(view.codeBlocks()[1].panel.contains(button->geometry()));
    QGuiApplication::clipboard()->setText("something else");

    QSignalSpy copiedChanged(button, &CodeCopyButton::copiedChanged);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("def f():\n    return 1"));
    QVERIFY(button->isCopied());
    QCOMPARE(button->text(), QString("Copied"));
    QCOMPARE(button->accessibleName(), QString("Copied"));
    QVERIFY(!view.codeCopyButton(0)->isCopied());

    QTRY_COMPARE_WITH_TIMEOUT(button->accessibleName(), QString("Copy"), 30000);
    QVERIFY(!button->isCopied());
    QCOMPARE(copiedChanged.count(), 2);

    QTest::mouseClick(view.codeCopyButton(0), Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("make all\nmake test"));
}

void TestMarkdownViews::captionNamesLanguageOrCode_data()
{
    QTest::addColumn<QString>("markdown");
    QTest::addColumn<QStringList>("captions");
    QTest::newRow("a language") << "```rust\nfn main() {}\n```" << QStringList{ "rust" };
    QTest::newRow("none") << "```\nx\n```" << QStringList{ "code" };
    QTest::newRow("two blocks back to back") << "```\na\n```\n```go\nb\n```" << QStringList{ "code", "go" };
    QTest::newRow("still open") << "Look:\n```sh\nls" << QStringList{ "sh" };
}

void TestMarkdownViews::captionNamesLanguageOrCode()
{
    QFETCH(QString, markdown);
    QFETCH(QStringList, captions);
    AnswerView view(markdown);
    view.resize(500, view.heightForWidth(500));
    QStringList shown;
    for (const AnswerView::CodeBlock &block : view.codeBlocks())
        shown << block.caption;
    QCOMPARE(shown, captions);
    // Panels one under the other, apart.
    const QList<AnswerView::CodeBlock> blocks = view.codeBlocks();
    for (qsizetype i = 1; i < blocks.size(); ++i)
        QVERIFY(blocks[i].panel.top() > blocks[i - 1].panel.bottom() + 4);
    QVERIFY(blocks.last().panel.bottom() < view.heightForWidth(500)); // the last panel is whole
}

void TestMarkdownViews::streamedFlushLeavesFinishedBlocksAlone()
{
    AnswerView view;
    view.resize(600, 400);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.setText(reply.left(reply.indexOf("2.")));
    QCoreApplication::processEvents();
    // Mark the finished paragraph's first line where layout would reset it:
    // were the paragraph laid out again, the mark would be gone. (The block
    // before the one that streams is laid out once more when the next one
    // starts: its end is where the new block is inserted.)
    QTextLayout *paragraph = view.document()->findBlockByNumber(1).layout();
    QCOMPARE(view.document()->findBlockByNumber(1).text(), QString("First read the notes."));
    QTextLine line = paragraph->lineAt(0);
    line.setPosition(line.position() + QPointF(0.25, 0));
    const QPointF marked = line.position();

    view.select(positionOf(view, "First"), positionOf(view, "First") + 5);
    for (qsizetype n = reply.indexOf("2.") + 1; n <= reply.size(); n += 7) {
        view.setText(reply.left(n));
        QCoreApplication::processEvents();
        QCOMPARE(view.document()->findBlockByNumber(1).layout(), paragraph);
        QCOMPARE(paragraph->lineAt(0).position(), marked);
    }
    view.setText(reply + "More text, and more.\n- a new item");
    QCOMPARE(paragraph->lineAt(0).position(), marked);
    // A person may select text while the reply streams.
    QCOMPARE(view.selectedText(), QString("First"));
    QCOMPARE(view.codeBlocks().size(), 1);
    QCOMPARE(view.codeBlocks()[0].code, QString("make all\nmake test"));

    // A height at another width is measured there once; after a flush it
    // follows the growth at the width shown instead of laying all out again.
    QSignalSpy laidOut(view.document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged);
    view.heightForWidth(300);
    view.setText(view.text() + "\n\n" + QString("More words to wrap. ").repeated(8));
    laidOut.clear();
    const int estimate = view.heightForWidth(300);
    view.heightForWidth(600);
    QCOMPARE(laidOut.count(), 0);
    AnswerView fresh(view.text());
    QVERIFY(qAbs(estimate - fresh.heightForWidth(300)) <= 3 * 20); // a few lines at most
}

void TestMarkdownViews::selectionAcrossBlocksCopiesPlainText()
{
    AnswerView view(reply);
    view.resize(600, view.heightForWidth(600));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QPoint from = view.characterRect(positionOf(view, "read")).topLeft() + QPoint(0, 3);
    const QPoint to = view.characterRect(positionOf(view, "st\nDone")).topLeft() + QPoint(0, 3);
    sendMouse(view, QEvent::MouseButtonPress, from, Qt::LeftButton);
    sendMouse(view, QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
    sendMouse(view, QEvent::MouseMove, to, Qt::LeftButton);
    sendMouse(view, QEvent::MouseButtonRelease, to, Qt::NoButton);
    QGuiApplication::clipboard()->clear();
    QTest::keySequence(&view, QKeySequence::Copy);
    QCOMPARE(QGuiApplication::clipboard()->text(),
        QString("read the notes.\n1. Open the file\n2. Run:\nmake all\nmake te"));

    QTest::mouseDClick(&view, Qt::LeftButton, Qt::NoModifier, centreOf(view, positionOf(view, "Open") + 1));
    QCOMPARE(view.selectedText(), QString("Open"));
    QTest::keySequence(&view, QKeySequence::SelectAll);
    QCOMPARE(view.selectedText(), view.toPlainText());
    QVERIFY(view.toPlainText().startsWith("Steps\nFirst read the notes.\n1. Open"));
}

void TestMarkdownViews::linksOpenOnlyForAllowedSchemes()
{
    UrlRecorder recorder;
    const QStringList schemes{ "https", "mailto", "file", "javascript" };
    for (const QString &scheme : schemes)
        QDesktopServices::setUrlHandler(scheme, &recorder, "open");
    AnswerView view("[web](https://example.org/x) [mail](mailto:a@b.c) [disk](file:///etc/passwd) "
                    "[script](javascript:alert(1)) plain");
    view.resize(600, view.heightForWidth(600));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    for (const char *name : { "web", "mail", "disk", "script", "plain" })
        QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, centreOf(view, positionOf(view, name) + 1));
    QCOMPARE(recorder.opened, (QList<QUrl>{ QUrl("https://example.org/x"), QUrl("mailto:a@b.c") }));

    QTest::mouseMove(&view, centreOf(view, positionOf(view, "web") + 1));
    QCOMPARE(view.cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseMove(&view, centreOf(view, positionOf(view, "plain") + 1));
    QCOMPARE(view.cursor().shape(), Qt::IBeamCursor);
    for (const QString &scheme : schemes)
        QDesktopServices::unsetUrlHandler(scheme);
}

void TestMarkdownViews::longTextWrapsWithoutWideningTheView()
{
    const QString longWord = "https://example.org/" + QString("a").repeated(300);
    AnswerView view(QString("word ").repeated(200) + "\n\n" + longWord + "\n\n- "
        + QString("item ").repeated(100) + "\n" + QString(" ").repeated(120) + "- deep item\n> "
        + QString("quoted ").repeated(60) + "\n\n```" + QString("lang").repeated(30) + "\n"
        + QString("code ").repeated(100) + "\n```");
    QVERIFY(view.hasHeightForWidth());
    QVERIFY(view.minimumSizeHint().width() < 200);
    QVERIFY(view.heightForWidth(300) > view.heightForWidth(800));

    view.resize(300, view.heightForWidth(300));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QVERIFY(view.sizeHint().width() <= 300);
    // Every line of prose ends inside the view; code keeps its line whole.
    for (QTextBlock block = view.document()->begin(); block.isValid(); block = block.next()) {
        const QTextLayout *layout = block.layout();
        const bool code = block.text().startsWith("code");
        QCOMPARE(layout->lineCount() == 1, code || block.text().size() < 30);
        for (int i = 0; i < layout->lineCount() && !code; ++i)
            QVERIFY(layout->position().x() + layout->lineAt(i).naturalTextWidth() <= 300.5);
        // A list item's wrapped lines start under its text, not its marker.
        if (block.text().startsWith(u'•') && layout->lineCount() > 1)
            QCOMPARE(layout->lineAt(1).x(), layout->lineAt(0).cursorToX(2));
    }
    const AnswerView::CodeBlock code = view.codeBlocks().value(0);
    QCOMPARE(code.panel.left(), 0);
    QCOMPARE(code.panel.width(), 300);
    QVERIFY(view.codeCopyButton(0)->geometry().right() < 300);
}

void TestMarkdownViews::longCodeScrollsSidewaysAndPassesUprightWheel()
{
    AnswerView view("Some text\n\n```\n" + QString("x").repeated(400) + "\nshort\n```\n");
    view.resize(200, view.heightForWidth(200));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QPoint onCode = centreOf(view, positionOf(view, "xxx") + 10);
    const QPoint onText = centreOf(view, 1);
    const int underPointer = view.positionAt(onCode);

    QVERIFY(sendWheel(view, onCode, QPoint(-120, 0)));
    const int scrolled = view.codeScroll(0);
    QVERIFY(scrolled > 0);
    QVERIFY(view.positionAt(onCode) > underPointer); // hits follow the code
    QVERIFY(sendWheel(view, onCode, QPoint(0, -120), Qt::ShiftModifier));
    QVERIFY(view.codeScroll(0) > scrolled);
    QVERIFY(sendWheel(view, onCode, QPoint(-120000, 0)));
    QVERIFY(view.codeScroll(0) < 400 * 13); // no further than the longest line

    // An upright turn is the conversation's, over code as over text.
    const int before = view.codeScroll(0);
    QVERIFY(!sendWheel(view, onCode, QPoint(0, -120)));
    QVERIFY(!sendWheel(view, onText, QPoint(0, -120)));
    QVERIFY(!sendWheel(view, onText, QPoint(-120, 0)));
    QCOMPARE(view.codeScroll(0), before);
}

void TestMarkdownViews::followsPaletteChanges()
{
    AnswerView view("Plain words here and there.\n\n> Quoted words here and there.\n\n```\ncode words\n```");
    view.resize(400, view.heightForWidth(400));
    const QList<std::pair<QColor, QColor>> looks{
        { QColor(200, 30, 30), QColor(30, 160, 30) },
        { QColor(30, 30, 200), QColor(200, 160, 30) },
    };
    for (const auto &[text, secondary] : looks) {
        QPalette palette = view.palette();
        palette.setColor(QPalette::WindowText, text);
        palette.setColor(QPalette::PlaceholderText, secondary);
        view.setPalette(palette);
        const QImage shot = view.grab().toImage();
        const QRect plain = view.characterRect(positionOf(view, "Plain"))
                                .united(view.characterRect(positionOf(view, "there.")));
        const QRect quoted = view.characterRect(positionOf(view, "Quoted"))
                                 .united(view.characterRect(positionOf(view, "\ncode words") - 1));
        QVERIFY(pixelsNear(shot.copy(plain), text) > 10);
        QVERIFY(pixelsNear(shot.copy(quoted), secondary) > 10);
        QCOMPARE(pixelsNear(shot.copy(quoted), text), 0);
        QVERIFY(pixelsNear(shot.copy(view.codeBlocks()[0].panel), text) > 10);
    }
}

void TestMarkdownViews::readsToAssistiveTechnology()
{
    AnswerView view(reply);
    view.resize(500, view.heightForWidth(500));
    view.show();
    QAccessibleInterface *answer = QAccessible::queryAccessibleInterface(&view);
    QVERIFY(answer);
    QCOMPARE(answer->text(QAccessible::Name), view.toPlainText());
    QAccessibleTextInterface *text = answer->textInterface();
    QVERIFY(text);
    QCOMPARE(text->characterCount(), view.toPlainText().size());
    QCOMPARE(text->text(0, 5), QString("Steps"));
    text->setSelection(0, positionOf(view, "Open"), positionOf(view, "Open") + 4);
    QCOMPARE(view.selectedText(), QString("Open"));
    int start = 0;
    int end = 0;
    text->selection(0, &start, &end);
    QCOMPARE(text->text(start, end), QString("Open"));
    const int make = positionOf(view, "make");
    QCOMPARE(text->offsetAtPoint(text->characterRect(make).topLeft() + QPoint(1, 1)), make);
}

QTEST_MAIN(TestMarkdownViews)
#include "test_markdown_views.moc"
