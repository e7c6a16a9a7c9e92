#include "ui/markdown/BlockWidgets.h"
#include "ui/markdown/CodeBlockView.h"
#include "ui/markdown/CodeTextView.h"
#include "ui/markdown/MarkdownView.h"
#include "ui/markdown/RichTextLabel.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QLabel>
#include <QLayout>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextCursor>
#include <QToolButton>
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

QList<QWidget *> widgetsOf(const MarkdownView &view)
{
    QList<QWidget *> widgets;
    for (qsizetype i = 0; i < view.blocks().size(); ++i)
        widgets << view.blockWidget(i);
    return widgets;
}

QToolButton *copyButtonOf(CodeBlockView &view)
{
    return view.findChild<QToolButton *>();
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
    void copyPutsCodeOnClipboardThenResets();
    void captionNamesLanguageOrCode();
    void streamingKeepsUnchangedBlockWidgets();
    void changedKindReplacesOnlyThatWidget();
    void shorterTextRemovesBlocks();
    void blocksShowTheirContent();
    void linksOpenOnlyForAllowedSchemes();
    void longTextWrapsWithoutWideningTheView();
    void longCodeScrollsSidewaysAndPassesUprightWheel();
};

void TestMarkdownViews::copyPutsCodeOnClipboardThenResets()
{
    CodeBlockView view("python", "def f():\n    return 1");
    view.setCopiedInterval(100);
    QToolButton *button = copyButtonOf(view);
    QVERIFY(button);
    QCOMPARE(button->text(), QString("Copy"));
    QCOMPARE(button->accessibleName(), QString("Copy"));
    QVERIFY(!button->icon().isNull());
    QGuiApplication::clipboard()->setText("something else");

    QSignalSpy copiedChanged(&view, &CodeBlockView::copiedChanged);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("def f():\n    return 1"));
    QVERIFY(view.isCopied());
    QCOMPARE(button->text(), QString("Copied"));
    QCOMPARE(button->accessibleName(), QString("Copied"));

    QTRY_COMPARE_WITH_TIMEOUT(button->text(), QString("Copy"), 30000);
    QVERIFY(!view.isCopied());
    QCOMPARE(button->accessibleName(), QString("Copy"));
    QCOMPARE(copiedChanged.count(), 2);
}

void TestMarkdownViews::captionNamesLanguageOrCode()
{
    CodeBlockView view("", "x");
    auto *caption = view.findChild<QLabel *>();
    QVERIFY(caption);
    QCOMPARE(caption->text(), QString("code"));
    view.setLanguage("rust");
    QCOMPARE(caption->text(), QString("rust"));
    QCOMPARE(view.findChild<CodeTextView *>()->accessibleName(), QString("rust"));
}

void TestMarkdownViews::streamingKeepsUnchangedBlockWidgets()
{
    MarkdownView view;
    view.resize(600, 400);
    view.show();
    QList<QWidget *> previous;
    // Grow the reply the way flushes do, a few characters at a time.
    for (qsizetype n = 1; n <= reply.size(); n += 7) {
        view.setText(reply.left(n));
        const QList<QWidget *> current = widgetsOf(view);
        for (qsizetype i = 0; i + 1 < previous.size(); ++i)
            QCOMPARE(current.value(i), previous[i]);
        previous = current;
    }
    view.setText(reply);
    QCOMPARE(view.blocks().size(), 6);

    // A person may select text while the reply streams: flushes that leave a
    // block unchanged must not reset it.
    auto *paragraph = qobject_cast<ParagraphBlock *>(view.blockWidget(1));
    QVERIFY(paragraph);
    QTextCursor selection(paragraph->document());
    selection.setPosition(5, QTextCursor::KeepAnchor);
    paragraph->setTextCursor(selection);
    view.setText(reply + "More text");
    view.setText(reply + "More text, and more.\n- a new item");
    QCOMPARE(paragraph->textCursor().selectedText(), QString("First"));
    auto *code = qobject_cast<CodeBlockView *>(view.blockWidget(4));
    QVERIFY(code);
    QCOMPARE(code->code(), QString("make all\nmake test"));
    QCOMPARE(code->language(), QString("sh"));
}

void TestMarkdownViews::changedKindReplacesOnlyThatWidget()
{
    MarkdownView view("# Title\nIntro\n-");
    QWidget *heading = view.blockWidget(0);
    QVERIFY(qobject_cast<ParagraphBlock *>(view.blockWidget(1)));

    view.setText("# Title\nIntro\n- item");
    QCOMPARE(view.blockWidget(0), heading);
    QVERIFY(qobject_cast<ParagraphBlock *>(view.blockWidget(1)));
    QVERIFY(qobject_cast<BulletBlock *>(view.blockWidget(2)));

    view.setText("# Title\n```\nIntro");
    QCOMPARE(view.blockWidget(0), heading);
    QVERIFY(qobject_cast<CodeBlockView *>(view.blockWidget(1)));
    QCOMPARE(view.blocks().size(), 2);
    QCOMPARE(view.layout()->count(), 3); // two blocks and the trailing stretch
}

void TestMarkdownViews::shorterTextRemovesBlocks()
{
    MarkdownView view(reply);
    QPointer<QWidget> last = view.blockWidget(5);
    view.setText("# Steps");
    QCOMPARE(view.blocks().size(), 1);
    QVERIFY(view.blockWidget(1) == nullptr);
    QTRY_VERIFY(last.isNull());
    view.setText(QString());
    QVERIFY(view.blocks().isEmpty());
    QCOMPARE(view.layout()->count(), 1);
}

void TestMarkdownViews::blocksShowTheirContent()
{
    MarkdownView view("## Sub *title*\n    - deep **item**\n> quoted\nplain <b>text</b>");
    auto *heading = qobject_cast<HeadingBlock *>(view.blockWidget(0));
    QVERIFY(heading);
    QCOMPARE(heading->font().pixelSize(), 19);
    QCOMPARE(heading->font().weight(), QFont::DemiBold);
    QCOMPARE(heading->accessibleName(), QString("Sub title"));

    auto *bullet = qobject_cast<BulletBlock *>(view.blockWidget(1));
    QVERIFY(bullet);
    QCOMPARE(bullet->indentAt(600), 2 * 16 + 4);
    auto *itemText = bullet->findChild<RichTextLabel *>();
    QCOMPARE(itemText->accessibleName(), QString("deep item"));
    QVERIFY(itemText->textInteractionFlags().testFlag(Qt::TextSelectableByKeyboard));

    auto *paragraph = qobject_cast<ParagraphBlock *>(view.blockWidget(3));
    QVERIFY(paragraph);
    QCOMPARE(paragraph->accessibleName(), QString("plain <b>text</b>"));
    QVERIFY(paragraph->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));

    // Text is drawn in the palette's colours, also after the palette changed.
    QPalette dark = view.palette();
    dark.setColor(QPalette::WindowText, QColor(235, 235, 240));
    dark.setColor(QPalette::PlaceholderText, QColor(150, 150, 155));
    view.setPalette(dark);
    QCOMPARE(paragraph->palette().color(QPalette::Text), QColor(235, 235, 240));
    QCOMPARE(view.blockWidget(2)->findChild<RichTextLabel *>()->palette().color(QPalette::Text),
        QColor(150, 150, 155)); // a quote
}

void TestMarkdownViews::linksOpenOnlyForAllowedSchemes()
{
    UrlRecorder recorder;
    for (const char *scheme : { "https", "mailto", "file", "javascript" })
        QDesktopServices::setUrlHandler(scheme, &recorder, "open");
    RichTextLabel label;
    label.setMarkdown("[a](https://example.org/x)");
    QVERIFY(label.toHtml().contains("href=\"https://example.org/x\""));

    for (const char *link :
        { "https://example.org/x", "mailto:a@b.c", "file:///etc/passwd", "javascript:alert(1)" })
        Q_EMIT label.anchorClicked(QUrl(link));
    QCOMPARE(recorder.opened, (QList<QUrl>{ QUrl("https://example.org/x"), QUrl("mailto:a@b.c") }));
    for (const char *scheme : { "https", "mailto", "file", "javascript" })
        QDesktopServices::unsetUrlHandler(scheme);
}

void TestMarkdownViews::longTextWrapsWithoutWideningTheView()
{
    const QString longWord = "https://example.org/" + QString("a").repeated(300);
    MarkdownView view(QString("word ").repeated(200) + "\n\n" + longWord + "\n\n- "
        + QString("item ").repeated(100) + "\n" + QString(" ").repeated(120) + "- deep\n\n```"
        + QString("lang").repeated(30) + "\ncode\n```");
    QVERIFY(view.hasHeightForWidth());
    QVERIFY(view.minimumSizeHint().width() < 200);
    QVERIFY(view.heightForWidth(300) > view.heightForWidth(800));

    // At 300 wide every block, and every line in it, ends inside the view:
    // a word longer than the line breaks, indentation stops at a quarter.
    view.resize(300, view.heightForWidth(300));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    for (const QWidget *child : view.findChildren<QWidget *>()) {
        if (child->isVisible())
            QVERIFY(child->mapTo(&view, QPoint(child->width(), 0)).x() <= 300);
    }
    for (const SelectableText *text : view.findChildren<SelectableText *>())
        QVERIFY(text->document()->idealWidth() <= text->viewport()->width());
    auto *deep = qobject_cast<BulletBlock *>(view.blockWidget(3));
    QVERIFY(deep);
    QCOMPARE(deep->indentAt(300), 75);

    // Blank runs survive in the rendered paragraph, and still wrap.
    view.setText("a     b");
    auto *paragraph = qobject_cast<ParagraphBlock *>(view.blockWidget(0));
    QVERIFY(paragraph);
    QCOMPARE(paragraph->accessibleName(), QString("a     b"));
}

void TestMarkdownViews::longCodeScrollsSidewaysAndPassesUprightWheel()
{
    QWidget conversation;
    CodeBlockView block("", QString("x").repeated(400) + "\nshort", &conversation);
    block.resize(200, block.sizeHint().height());
    conversation.show();
    auto *code = block.findChild<CodeTextView *>();
    QVERIFY(code);
    QTRY_VERIFY(code->horizontalScrollBar()->maximum() > 0);
    QCOMPARE(code->verticalScrollBar()->maximum(), 0); // every line fits

    const QPointF at(10, 10);
    QWheelEvent sideways(at, code->mapToGlobal(at), QPoint(), QPoint(-120, 0), Qt::NoButton, Qt::NoModifier,
        Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(code->viewport(), &sideways);
    QVERIFY(code->horizontalScrollBar()->value() > 0);

    QWheelEvent upright(at, code->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
        Qt::NoScrollPhase, false);
    code->horizontalScrollBar()->setValue(0);
    QCoreApplication::sendEvent(code->viewport(), &upright);
    QVERIFY(!upright.isAccepted()); // left for the conversation to scroll
    QCOMPARE(code->horizontalScrollBar()->value(), 0);

    // Nor does the text around the code keep an upright turn for itself.
    ParagraphBlock paragraph(&conversation);
    paragraph.setMarkdown("Some text");
    QWheelEvent onText(at, paragraph.mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
        Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(paragraph.viewport(), &onText);
    QVERIFY(!onText.isAccepted());
}

QTEST_MAIN(TestMarkdownViews)
#include "test_markdown_views.moc"
