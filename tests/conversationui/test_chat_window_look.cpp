// The chat window's content as a person sees it: a streamed Markdown answer
// under a question with an image, the model menu open, text that cannot
// wrap at word boundaries in a window of the smallest size, and an answer
// cut short after the model's reasoning. The rows must lie one under the
// other without overlapping, inside the 820-pixel column and inside the
// viewport; with TOLVI_SCREENSHOT_DIR set, the pictures are saved there.

#include "FakeFixtures.h"
#include "RootScene.h"
#include "TestSupport.h"
#include "UiHarness.h"
#include "ui/conversation/ConversationView.h"
#include "ui/conversation/MessageBubble.h"
#include "ui/conversation/MessageColumn.h"
#include "ui/conversation/MessageRow.h"
#include "ui/conversation/ReasoningSection.h"
#include "ui/input/InputBar.h"
#include "ui/input/NoticeRow.h"
#include "ui/markdown/AnswerView.h"
#include "ui/modelmenu/ModelMenu.h"
#include "ui/widgets/IssueView.h"
#include "ui/widgets/WrappingButton.h"

#include <QBuffer>
#include <QClipboard>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

using namespace uikit;
using testsupport::waitFor;

namespace {

const ORModel alpha{ "vendor/alpha:free", "Alpha", 32000, true };
const ORModel beta{ "other/beta-instruct:free", "Beta Instruct & Chat", 32000, false };

const QStringList answerPieces{
    QStringLiteral("## A quick plan\n\nHere is how to **sort** a list in Python:\n\n"),
    QStringLiteral("1. Call `sorted()` for a new list\n2. Call `list.sort()` to sort in place\n"),
    QStringLiteral("- both accept a *key* function\n\n```python\nnames = [\"Ada\", \"Linus\", \"Grace\"]\n"),
    QStringLiteral("print(sorted(names, key=len))\n```\n\nThat's all there is to it."),
};

QString pictureUrl()
{
    QImage image(320, 200, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, 200);
    sky.setColorAt(0, QColor(0x5B, 0x8D, 0xEF));
    sky.setColorAt(1, QColor(0xF4, 0xC2, 0x7A));
    painter.fillRect(image.rect(), sky);
    painter.setBrush(QColor(0x2E, 0x5E, 0x3A));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPoint(90, 230), 160, 90);
    painter.drawEllipse(QPoint(260, 240), 140, 80);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return QStringLiteral("data:image/jpeg;base64,") + QString::fromLatin1(bytes.toBase64());
}

// A chat whose every part holds text that cannot wrap at a word boundary:
// real model names in the footer, a long token in the question, a long code
// fence info string, a deeply indented bullet and a long URL.
Chat unbreakableChat()
{
    ChatMessage question;
    question.role = QStringLiteral("user");
    question.text = QStringLiteral("Why does this fail? ") + QString(QLatin1Char('x')).repeated(180);
    ChatMessage answer;
    answer.role = QStringLiteral("assistant");
    answer.text = QStringLiteral("The token is too long for the parser:\n\n```")
        + QStringLiteral("python-").repeated(15).left(110) + QStringLiteral("\nparse(token)\n```\n\n")
        + QString(QLatin1Char(' ')).repeated(120)
        + QStringLiteral("- deeply indented item\n\nSee https://example.org/")
        + QString(QLatin1Char('a')).repeated(200);
    answer.answeredBy = QStringLiteral("Mistral: Mistral Small 3.1 24B");
    answer.note = QStringLiteral("switched from DeepSeek: DeepSeek V3 0324 because it was slow to respond");
    Chat chat;
    chat.title = QStringLiteral("Long names");
    chat.messages = { question, answer };
    return chat;
}

// A reasoning model's answer that reached its length limit mid-sentence.
Chat cutAfterReasoningChat()
{
    ChatMessage question;
    question.role = QStringLiteral("user");
    question.text = QStringLiteral("Write a short story about a lighthouse keeper, in three parts.");
    ChatMessage answer;
    answer.role = QStringLiteral("assistant");
    answer.text
        = QStringLiteral("## I. The Light\n\nEvery evening at dusk, Maren climbed the hundred and twelve "
                         "steps of the tower. She had never once been late.\n\n## II. The Storm\n\n"
                         "The storm came in October, faster than the barometer had promised, and the");
    answer.answeredBy = QStringLiteral("DeepSeek: R1 0528");
    answer.modelId = QStringLiteral("deepseek/deepseek-r1-0528:free"); // so that it can be continued
    answer.reasoning
        = QStringLiteral("Three parts: the routine, a storm that tests her, what changes after.");
    answer.reasoningSeconds = 12.4;
    answer.cut = AnswerCut::length;
    Chat chat;
    chat.title = QStringLiteral("A lighthouse keeper");
    chat.messages = { question, answer };
    return chat;
}

// Lets every pending layout run.
void settle()
{
    for (int i = 0; i < 4; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCoreApplication::processEvents();
    }
}

// A point of the widget that a click there would reach: the topmost widget
// under it in the window is the widget itself.
bool reachable(QWidget *widget)
{
    QWidget *window = widget->window();
    const QPoint centre = widget->mapTo(window, widget->rect().center());
    return window->childAt(centre) == widget;
}

} // namespace

class ChatWindowLookTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void streamedAnswerUnderAQuestionWithAnImage()
    {
        RootScene s({ alpha, beta });
        s.fake.enqueueChat(alpha.id, heldStream(alpha.id, answerPieces, 1));
        s.vm().attach(QImage::fromData(QByteArray::fromBase64(pictureUrl().section(',', 1).toLatin1())));
        s.vm().setDraft(QStringLiteral("How do I sort a list of names by length?"));
        s.vm().send();
        for (int i = 0; i < answerPieces.size(); ++i) {
            QVERIFY(s.fake.release() || waitFor([&] { return s.fake.release(); }));
            const QString soFar = answerPieces.mid(0, i + 1).join(QString());
            QVERIFY(waitFor([&] { return s.vm().chat().messages.last().text == soFar; }));
        }
        QVERIFY(s.releaseUntilIdle());
        QTest::qWait(50);

        ConversationView *view = s.root->conversation();
        const QList<MessageRow *> rows = view->rows();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0]->images().size(), 1);
        QCOMPARE(rows[1]->answerView()->document()->blockCount(), 8); // the code: a block a line
        QWidget *content = view->scrollArea()->widget();
        int bottom = -1;
        for (MessageRow *row : rows) {
            const QRect r(row->mapTo(content, QPoint()), row->size());
            QVERIFY(r.top() > bottom); // one under the other
            QVERIFY(r.width() <= 820 - 48);
            bottom = r.bottom();
        }
        saveScreenshot(s.root->grab().toImage(), QStringLiteral("chat-conversation"));
    }

    void emptyStateIsCentredAndAFailureShowsItsIssue()
    {
        RootScene s({ alpha, beta });
        ConversationView *view = s.root->conversation();
        QWidget *empty = view->column()->emptyState();
        QVERIFY(empty->isVisible());
        const QPoint centre = empty->mapTo(view, empty->rect().center());
        QVERIFY(qAbs(centre.x() - view->width() / 2) <= 2);
        saveScreenshot(s.root->grab().toImage(), QStringLiteral("chat-empty"));

        s.fake.onAnyChat(fake::replies::providerError(503));
        s.vm().setDraft(QStringLiteral("Anyone there?"));
        s.vm().send();
        QVERIFY(s.waitIdle());
        QVERIFY(view->column()->issueView()->isVisible());
        QVERIFY(!empty->isVisible());
        saveScreenshot(s.root->grab().toImage(), QStringLiteral("chat-issue"));
    }

    void nothingIsWiderThanTheViewport_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("smallest window") << QSize(760, 520);
        QTest::newRow("default window") << QSize(1000, 700);
    }

    void nothingIsWiderThanTheViewport()
    {
        QFETCH(QSize, size);
        const ORModel blind{ "vendor/blind:free", "Blind", 32000, false };
        const ORModel seeing{ "vendor/seeing:free",
            QStringLiteral("Qwen: Qwen2.5 VL 72B Instruct, vision-language, with a rather long name indeed"),
            32000, true };
        RootScene s({ blind, seeing });
        s.root->resize(size);
        const Chat chat = unbreakableChat();
        s.app->store().save(chat);
        QVERIFY(waitFor([&] { return s.app->store().load(chat.id).has_value(); }));
        s.vm().select(chat.id);
        s.vm().pin(blind.id);
        s.vm().attach(QImage::fromData(QByteArray::fromBase64(pictureUrl().section(',', 1).toLatin1())));
        settle();

        ConversationView *view = s.root->conversation();
        QWidget *viewport = view->scrollArea()->viewport();
        const QList<MessageRow *> rows = view->rows();
        QCOMPARE(rows.size(), 2);
        for (MessageRow *row : rows) {
            const QRect shown(row->mapTo(viewport, QPoint()), row->size());
            QVERIFY2(shown.left() >= 0 && shown.right() < viewport->width(),
                qPrintable(QStringLiteral("%1 in %2").arg(shown.right()).arg(viewport->width())));
            const QStringList cut = squeezedWidgets(row);
            QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral(", "))));
        }
        QVERIFY(rows.first()->bubble()->x() >= 60); // a long question still leaves its gap
        // The notice's button wraps inside the bar; the window may stay small.
        NoticeRow *notice = view->inputBar()->noticeRow();
        QVERIFY(notice->isVisible());
        QVERIFY(reachable(notice->switchButton()));
        QVERIFY(notice->mapTo(view, QPoint(notice->width(), 0)).x() <= view->width());
        QVERIFY(squeezedWidgets(notice).isEmpty());
        QVERIFY(s.root->minimumSizeHint().width() <= 760);

        view->scrollArea()->verticalScrollBar()->setValue(view->scrollArea()->verticalScrollBar()->maximum());
        settle();
        if (size == QSize(760, 520))
            saveScreenshot(s.root->grab().toImage(), QStringLiteral("chat-long-names-minimum"));

        MessageRow *answer = rows.last();
        QVERIFY(reachable(answer->copyButton()));
        QTest::mouseClick(answer->copyButton(), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), chat.messages.last().text);
        QVERIFY(reachable(answer->regenerateButton()));
        s.fake.enqueueChat(blind.id, fake::Reply::stream(blind.id, { QStringLiteral("Shorter.") }));
        QTest::mouseClick(answer->regenerateButton(), Qt::LeftButton);
        QVERIFY(s.vm().isStreaming());
        QVERIFY(s.waitIdle());
    }

    // The last answer folded its reasoning and was cut by the length limit:
    // its footer says so and offers Continue. The chat fits the window until
    // it narrows: then the rows wrap anew, and the scroll bar comes, while
    // the column lays them out, and what follows them still comes after.
    void answerCutShortAfterReasoning_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }

    void answerCutShortAfterReasoning()
    {
        QFETCH(bool, dark);
        const QPalette before = QApplication::palette();
        if (dark)
            QApplication::setPalette(darkPalette());
        const auto restore = qScopeGuard([&] { QApplication::setPalette(before); });
        RootScene s({ alpha, beta });
        const Chat chat = cutAfterReasoningChat();
        s.app->store().save(chat);
        QVERIFY(waitFor([&] { return s.app->store().load(chat.id).has_value(); }));
        s.vm().select(chat.id);
        settle();

        ConversationView *view = s.root->conversation();
        QWidget *viewport = view->scrollArea()->viewport();
        MessageRow *answer = view->rows().last();
        ReasoningSection *reasoning = answer->reasoningSection();
        QVERIFY(reasoning && !reasoning->isOpen());
        QVERIFY(reachable(reasoning->toggle()));
        QVERIFY(reasoning->geometry().bottom() < answer->answerView()->geometry().top());
        QVERIFY(reachable(answer->continueButton()));
        QCOMPARE(answer->continueButton()->y(), answer->regenerateButton()->y());
        int bottom = -1;
        for (MessageRow *row : view->rows()) {
            const QRect shown(row->mapTo(viewport, QPoint()), row->size());
            QVERIFY(shown.top() > bottom && shown.left() >= 0 && shown.right() < viewport->width());
            QVERIFY(shown.width() <= 820 - 48);
            QVERIFY(squeezedWidgets(row).isEmpty());
            bottom = shown.bottom();
        }
        saveScreenshot(s.root->grab().toImage(),
            dark ? QStringLiteral("answer-cut-reasoning-dark")
                 : QStringLiteral("answer-cut-reasoning-light"));

        QTest::mouseClick(reasoning->toggle(), Qt::LeftButton);
        settle();
        QVERIFY(reasoning->body()->isVisible());
        QVERIFY(reasoning->geometry().bottom() < answer->answerView()->geometry().top());
        QVERIFY(squeezedWidgets(answer).isEmpty());

        s.fake.onAnyChat(fake::replies::providerError(503));
        s.vm().setDraft(QStringLiteral("And the third part?"));
        s.vm().send();
        QVERIFY(s.waitIdle());
        s.root->resize(760, 520);
        settle();
        const QWidget *list = answer->parentWidget();
        const QWidget *issue = view->column()->issueView();
        QVERIFY(issue->y() > list->geometry().bottom());
        QCOMPARE(issue->width(), list->width());
    }

    // With few free requests left: the menu's note and the input bar's line
    // say so.
    void modelMenuOpen_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }

    void modelMenuOpen()
    {
        QFETCH(bool, dark);
        const QPalette before = QApplication::palette();
        if (dark)
            QApplication::setPalette(darkPalette());
        const auto restore = qScopeGuard([&] { QApplication::setPalette(before); });
        RootScene s({ alpha, beta });
        s.app->ranker().cool(beta.id, 600);
        // The service counts 45 spent elsewhere today, and then the reply.
        s.fake.setDailyRequests(50, 45);
        s.vm().setDraft(QStringLiteral("Hello"));
        s.vm().send();
        QVERIFY(s.waitIdle());
        QVERIFY(waitFor([&] { return !s.app->quota().isCheckingKey(); }));
        ModelMenu *menu = s.root->modelMenu();
        QMenu *items = menu->itemsMenu();
        menu->openMenu();
        QVERIFY(waitFor([&] { return items->isVisible(); }));
        QVERIFY(!items->actions().isEmpty()); // built as it showed
        const QString left = s.app->quota().summary().value_or(QString());
        QCOMPARE(left, QStringLiteral("4 of 50 free requests left today"));
        QStringList lines;
        for (const QAction *item : items->actions())
            lines << item->text();
        QVERIFY(lines.contains(left));
        QVERIFY(
            visibleTexts(s.root.get()).contains(s.app->quota().warning().value_or(QStringLiteral("none"))));

        QImage window = s.root->grab().toImage();
        const QPoint at = s.root->mapFromGlobal(items->pos());
        QPainter painter(&window);
        painter.drawImage(at, items->grab().toImage());
        painter.end();
        saveScreenshot(
            window, dark ? QStringLiteral("chat-model-menu-dark") : QStringLiteral("chat-model-menu"));
        items->hide();
    }
};

QTEST_MAIN(ChatWindowLookTest)
#include "test_chat_window_look.moc"
