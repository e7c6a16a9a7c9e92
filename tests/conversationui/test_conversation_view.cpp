// The conversation column over a real controller: which rows show, what a
// streamed flush re-renders, the answer's reasoning and footer, copying,
// images, the waiting row, and the issue's retry; and what a search finds.

#include "FakeFixtures.h"
#include "TestSupport.h"
#include "UiHarness.h"
#include "core/conversation/ConversationModel.h"
#include "ui/conversation/ConversationView.h"
#include "ui/conversation/MessageBubble.h"
#include "ui/conversation/MessageColumn.h"
#include "ui/conversation/MessageList.h"
#include "ui/conversation/MessageRow.h"
#include "ui/conversation/ReasoningSection.h"
#include "ui/conversation/ThinkingIndicator.h"
#include "ui/input/DataURLImage.h"
#include "ui/markdown/AnswerView.h"
#include "ui/sidebar/ChatListModel.h"
#include "ui/sidebar/SidebarView.h"
#include "ui/widgets/IssueView.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using namespace uikit;
using testsupport::waitFor;

namespace {

const ORModel alpha = model("vendor/alpha:free", "Alpha");
const ORModel beta = model("vendor/beta:free", "Beta");

ChatMessage message(const QString &role, const QString &text)
{
    ChatMessage m;
    m.role = role;
    m.text = text;
    return m;
}

QString pngDataUrl(QColor colour)
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return QStringLiteral("data:image/png;base64,") + QString::fromLatin1(bytes.toBase64());
}

QList<ChatMessage> visibleOf(const ConversationView &view)
{
    QList<ChatMessage> shown;
    for (const MessageRow *row : view.rows())
        shown.append(row->message());
    return shown;
}

// A view in a window of a realistic size, shown.
struct ShownView {
    explicit ShownView(ChatViewModel &vm)
        : view(vm)
    {
        view.resize(800, 600);
        view.show();
        if (!QTest::qWaitForWindowExposed(&view))
            qFatal("the view was not shown");
    }
    ConversationView view;
};

} // namespace

class ConversationViewTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void emptyStateThenUserRowAndThinking()
    {
        Harness h;
        h.useModels({ alpha });
        ShownView shown(*h.vm);
        MessageColumn *column = shown.view.column();
        QVERIFY(column->emptyState()->isVisible());
        QVERIFY(!column->thinking()->isVisible());

        h.fake.enqueueChat(alpha.id, heldStream(alpha.id, { QStringLiteral("Hi") }, 0));
        h.say(QStringLiteral("hello"));
        QVERIFY(h.vm->isThinking());
        QCOMPARE(shown.view.rows().size(), 1); // the empty reply is not a row
        QVERIFY(shown.view.rows().first()->isUser());
        QVERIFY(!column->emptyState()->isVisible());
        QVERIFY(column->thinking()->isVisible());
        QVERIFY(column->thinking()->phase());

        QVERIFY(waitFor([&] {
            h.fake.release();
            return shown.view.rows().size() == 2;
        }));
        QVERIFY(!shown.view.rows().last()->isUser());
        QVERIFY(!column->thinking()->isVisible()); // the answer's text took its place
        QVERIFY(h.releaseUntilIdle());
        QCOMPARE(h.lastMessage().answeredBy, std::optional<QString>(QStringLiteral("Alpha")));
        QVERIFY(!column->thinking()->isVisible());
        QVERIFY(!column->emptyState()->isVisible());
    }

    void emptyStateStaysAwayWhileStreaming()
    {
        Harness h;
        h.useModels({ alpha });
        ShownView shown(*h.vm);
        h.fake.enqueueChat(alpha.id, heldStream(alpha.id, { QStringLiteral("x") }, 0));
        // A generation with no visible message at all: only its empty reply.
        h.vm->startGeneration();
        QVERIFY(h.vm->isStreaming());
        QVERIFY(shown.view.rows().isEmpty());
        QVERIFY(!shown.view.column()->emptyState()->isVisible());
        QVERIFY(shown.view.column()->thinking()->isVisible());
        h.vm->stop(); // the empty reply goes
        QVERIFY(shown.view.column()->emptyState()->isVisible());
    }

    void emptyAnswersAreNeverShown()
    {
        Harness h;
        Chat stored;
        stored.messages = { message("user", "one"), message("assistant", ""), message("user", "two"),
            message("assistant", "answer") };
        h.storeChat(stored);
        ShownView shown(*h.vm);
        h.vm->select(stored.id);
        const QList<ChatMessage> rows = visibleOf(shown.view);
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[0].text, QStringLiteral("one"));
        QCOMPARE(rows[1].text, QStringLiteral("two"));
        QCOMPARE(rows[2].text, QStringLiteral("answer"));
    }

    void oneFlushRerendersOnlyTheGrowingRow()
    {
        Harness h;
        h.useModels({ alpha });
        h.exchange(QStringLiteral("first"), alpha.id, QStringLiteral("First answer"));
        h.exchange(QStringLiteral("second"), alpha.id, QStringLiteral("Second answer"));
        ShownView shown(*h.vm);
        const std::unique_ptr<ChatSearch> search = h.makeSearch();
        SidebarView sidebar(*h.vm, *h.store, *search);
        sidebar.show();

        h.fake.enqueueChat(
            alpha.id, heldStream(alpha.id, { QStringLiteral("Gro"), QStringLiteral("wing") }, 2));
        h.say(QStringLiteral("third"));
        QVERIFY(waitFor([&] { return h.lastMessage().text == QLatin1String("Gro"); }));
        QVERIFY(waitFor([&] { return shown.view.rows().size() == 6; }));
        QApplication::processEvents();

        const QList<MessageRow *> before = shown.view.rows();
        QList<int> renders;
        for (const MessageRow *row : before)
            renders.append(row->renderCount());
        QSignalSpy changed(sidebar.model(), &QAbstractItemModel::dataChanged);
        QSignalSpy inserted(sidebar.model(), &QAbstractItemModel::rowsInserted);
        QSignalSpy moved(sidebar.model(), &QAbstractItemModel::rowsMoved);
        QSignalSpy reset(sidebar.model(), &QAbstractItemModel::modelReset);
        QSignalSpy flushes(h.vm.get(), &ChatViewModel::replyChanged);
        QSignalSpy chats(h.vm.get(), &ChatViewModel::chatChanged);

        QVERIFY(h.fake.release()); // "wing"
        QVERIFY(waitFor([&] { return h.lastMessage().text == QLatin1String("Growing"); }));
        QCOMPARE(flushes.size(), 1);
        QCOMPARE(chats.size(), 0); // nothing but the streaming row hears of it
        QVERIFY(h.vm->isStreaming());

        QCOMPARE(shown.view.rows(), before); // no row was rebuilt
        for (qsizetype i = 0; i < before.size(); ++i)
            QCOMPARE(before[i]->renderCount(), renders[i] + (i == before.size() - 1 ? 1 : 0));
        QCOMPARE(before.last()->answerView()->text(), QStringLiteral("Growing"));
        QCOMPARE(changed.size() + inserted.size() + moved.size() + reset.size(), 0);
        QVERIFY(h.releaseUntilIdle());
    }

    // Continue too, where the controller can continue the answer (here:
    // always), and it asks the list's owner to.
    void regenerateOnlyOnTheLastAnswerWhileIdle()
    {
        Harness h;
        h.useModels({ alpha });
        h.exchange(QStringLiteral("one"), alpha.id, QStringLiteral("Answer one"));
        h.exchange(QStringLiteral("two"), alpha.id, QStringLiteral("Answer two"));
        ShownView shown(*h.vm);
        const QList<MessageRow *> rows = shown.view.rows();
        QCOMPARE(rows.size(), 4);
        QVERIFY(!rows[1]->regenerateButton()->isVisible());
        QVERIFY(rows[3]->regenerateButton()->isVisible());
        QVERIFY(!rows[3]->continueButton()->isVisible()); // a whole answer
        for (const MessageRow *row : rows) {
            if (row->isUser())
                QVERIFY(!row->regenerateButton());
        }
        MessageList *list = shown.view.column()->list();
        list->setCanContinue([] { return true; });
        QVERIFY(rows[3]->continueButton()->isVisible());
        QVERIFY(!rows[1]->continueButton()->isVisible());
        QSignalSpy continued(list, &MessageList::continueRequested);
        rows[3]->continueButton()->click();
        QCOMPARE(continued.size(), 1);

        h.fake.enqueueChat(alpha.id, heldStream(alpha.id, { QStringLiteral("New") }, 2));
        rows[3]->regenerateButton()->click(); // runs vm.regenerate()
        QVERIFY(h.vm->isStreaming());
        QVERIFY(waitFor([&] { return h.lastMessage().text == QLatin1String("New"); }));
        MessageRow *streaming = shown.view.rows().last();
        QVERIFY(streaming != rows[3]);
        QVERIFY(!streaming->regenerateButton()->isVisible()); // not while streaming
        QVERIFY(!streaming->continueButton()->isVisible());
        QVERIFY(!rows[1]->regenerateButton()->isVisible());
        QVERIFY(h.releaseUntilIdle());
        QVERIFY(streaming->regenerateButton()->isVisible());
        QVERIFY(streaming->continueButton()->isVisible());
        QVERIFY(!rows[1]->regenerateButton()->isVisible());
    }

    void answerFooter_data()
    {
        QTest::addColumn<std::optional<QString>>("answeredBy");
        QTest::addColumn<std::optional<QString>>("note");
        QTest::addColumn<std::optional<AnswerCut>>("cut");
        QTest::addColumn<QString>("label");
        const std::optional<QString> none;
        const std::optional<AnswerCut> whole;
        QTest::newRow("nobody") << none << none << whole << QString();
        QTest::newRow("model") << std::optional<QString>("Alpha") << none << whole
                               << QStringLiteral("answered by Alpha");
        QTest::newRow("switched") << std::optional<QString>("Beta")
                                  << std::optional<QString>("switched from Alpha because it was busy")
                                  << whole
                                  << QStringLiteral(
                                         "answered by Beta · switched from Alpha because it was busy");
        QTest::newRow("filtered, nobody named")
            << none << none << std::optional(AnswerCut::filter)
            << QStringLiteral("Stopped by the provider's content filter.");
        QTest::newRow("switched, then the connection closed")
            << std::optional<QString>("Beta") << std::optional<QString>("switched from Alpha")
            << std::optional(AnswerCut::connection)
            << QStringLiteral("answered by Beta · switched from Alpha · "
                              "The connection closed before the answer was complete.");
    }

    void answerFooter()
    {
        QFETCH(std::optional<QString>, answeredBy);
        QFETCH(std::optional<QString>, note);
        QFETCH(std::optional<AnswerCut>, cut);
        QFETCH(QString, label);
        ChatMessage answer = message("assistant", "Text");
        answer.answeredBy = answeredBy;
        answer.note = note;
        answer.cut = cut;
        MessageRow row(answer);
        row.show();
        QCOMPARE(row.answerLabel(), label);
        const QList<QLabel *> labels = row.findChildren<QLabel *>();
        const bool shown = std::any_of(
            labels.begin(), labels.end(), [&](QLabel *l) { return l->isVisible() && l->text() == label; });
        QCOMPARE(shown, !label.isEmpty());
    }

    // A reasoning model's row while it reasons, as its answer begins and
    // after: open, then folded unless the person chose otherwise; a flush
    // touches only that row and adds only the new text.
    void reasoningFoldsOnceTheAnswerBegins_data()
    {
        QTest::addColumn<int>("pressesWhileReasoning");
        QTest::addColumn<bool>("openOnceAnswering");
        QTest::newRow("left alone") << 0 << false;
        QTest::newRow("folded by the person") << 1 << false;
        QTest::newRow("folded, then opened again") << 2 << true;
    }

    void reasoningFoldsOnceTheAnswerBegins()
    {
        QFETCH(int, pressesWhileReasoning);
        QFETCH(bool, openOnceAnswering);
        ChatMessage earlier = message("assistant", "Earlier answer");
        earlier.reasoning = QStringLiteral("Earlier reasoning");
        earlier.reasoningSeconds = 0.3;
        ChatMessage live = message("assistant", "");
        live.reasoning = QStringLiteral("The user asks for a sum.");
        Chat chat;
        chat.messages = { message("user", "one"), earlier, message("user", "two"), live };
        ConversationModel model;
        model.sync(chat, true);
        MessageList list(model);
        list.resize(700, 500);
        list.show();
        const QList<MessageRow *> rows = list.rows();
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows[1]->reasoningSection()->line(), QStringLiteral("Reasoned for 1 s"));
        ReasoningSection *section = rows[3]->reasoningSection();
        QCOMPARE(section->line(), QStringLiteral("Reasoning"));
        QVERIFY(section->body()->isVisible());
        QVERIFY(!rows[3]->answerView()->isVisible());
        for (int i = 0; i < pressesWhileReasoning; ++i)
            QTest::keyClick(section->toggle(), i % 2 ? Qt::Key_Return : Qt::Key_Space);

        QList<int> renders;
        for (const MessageRow *row : rows)
            renders.append(row->renderCount());
        const qsizetype inserted = section->insertedCharacters();
        const QString more = QStringLiteral(" Two and two make four.");
        chat.messages[3].reasoning->append(more);
        model.sync(chat, true);
        for (qsizetype i = 0; i < rows.size(); ++i)
            QCOMPARE(rows[i]->renderCount(), renders[i] + (i == 3 ? 1 : 0));
        QCOMPARE(section->body()->toPlainText(), *chat.messages[3].reasoning);
        QCOMPARE(section->insertedCharacters(), inserted + more.size());
        QCOMPARE(section->isOpen(), pressesWhileReasoning != 1);

        chat.messages[3].reasoningSeconds = 11.6;
        chat.messages[3].text = QStringLiteral("Four.");
        model.sync(chat, true);
        QCOMPARE(section->line(), QStringLiteral("Reasoned for 12 s"));
        QCOMPARE(section->body()->isVisible(), openOnceAnswering);
        QVERIFY(rows[3]->answerView()->isVisible());
        QAccessibleInterface *reader = QAccessible::queryAccessibleInterface(section->toggle());
        QCOMPARE(reader->text(QAccessible::Name), QStringLiteral("Reasoning"));
        QCOMPARE(reader->text(QAccessible::Description), QStringLiteral("Reasoned for 12 s"));
        QVERIFY(reader->state().expandable);
        QCOMPARE(bool(reader->state().expanded), openOnceAnswering);

        // The person's choice now holds through the rest of the answer.
        reader->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        chat.messages[3].text += QStringLiteral(" Always.");
        model.sync(chat, false);
        QCOMPARE(section->isOpen(), !openOnceAnswering);
        QCOMPARE(bool(reader->state().expanded), !openOnceAnswering);
    }

    void waitingRowSaysWhatItWaitsFor()
    {
        ThinkingIndicator indicator;
        indicator.show();
        QLabel *label = indicator.findChild<QLabel *>();
        QAccessibleInterface *reader = QAccessible::queryAccessibleInterface(label);
        // Half a second from a change of the count either way.
        indicator.setLimitWait(QDeadlineTimer(90'500));
        QCOMPARE(indicator.caption(), QStringLiteral("Waiting for the free-request limit… 91 s"));
        QCOMPARE(reader->text(QAccessible::Name), indicator.caption());
        indicator.setLimitWait(std::nullopt);
        QCOMPARE(reader->text(QAccessible::Name), QStringLiteral("Thinking…"));
    }

    void answerFooterFollowsTheSwitchNote()
    {
        Harness h;
        h.useModels({ alpha, beta });
        h.fake.enqueueChat(alpha.id, fake::replies::providerError(503));
        h.fake.enqueueChat(beta.id, fake::Reply::stream(beta.id, { QStringLiteral("Hello") }));
        ShownView shown(*h.vm);
        h.say(QStringLiteral("hi"));
        QVERIFY(h.waitIdle());
        QVERIFY(h.lastMessage().note.has_value());
        QCOMPARE(shown.view.rows().last()->answerLabel(),
            QStringLiteral("answered by Beta · ") + *h.lastMessage().note);
    }

    void copyPutsTheMarkdownOnTheClipboard()
    {
        const QString source = QStringLiteral("# Title\n\n- **bold** item\n\n```\ncode\n```");
        MessageRow row(message("assistant", source));
        row.setCopiedInterval(50);
        row.show();
        QSignalSpy copied(&row, &MessageRow::copiedChanged);
        QCOMPARE(row.copyButton()->text(), QStringLiteral("Copy"));
        row.copyButton()->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), source);
        QVERIFY(row.isCopied());
        QCOMPARE(row.copyButton()->text(), QStringLiteral("Copied"));
        QVERIFY(waitFor([&] { return !row.isCopied(); }));
        QCOMPARE(row.copyButton()->text(), QStringLiteral("Copy"));
        QCOMPARE(copied.size(), 2);
    }

    void anEarlierCopyResetStillClearsTheFlag()
    {
        MessageRow row(message("assistant", "text"));
        row.setCopiedInterval(200);
        row.copyText();
        row.setCopiedInterval(100000); // the second copy's reset comes much later
        row.copyText();
        QVERIFY(waitFor([&] { return !row.isCopied(); }));
    }

    void userMessageWithOnlyImages()
    {
        const int decodesBefore = DataURLImage::decodeCount();
        ChatMessage user = message("user", "");
        user.images = { pngDataUrl(Qt::red), pngDataUrl(Qt::blue) };
        MessageRow row(user);
        row.resize(600, 200);
        row.show();
        QVERIFY(QTest::qWaitForWindowExposed(&row));
        QCOMPARE(row.images().size(), 2);
        QVERIFY(!row.bubble()->isVisible());
        for (QWidget *image : row.images()) {
            QVERIFY(image->isVisible());
            QCOMPARE(image->size(), QSize(90, 90));
            // At the right: the thumbnails end where the row ends.
            QVERIFY(image->mapTo(&row, QPoint(image->width(), 0)).x() > row.width() - 200);
        }
        row.grab();
        row.repaint();
        row.grab();
        QCOMPARE(DataURLImage::decodeCount() - decodesBefore, 2); // once per image
        const QWidget *first = row.images().first();
        const QPoint centre = first->mapTo(&row, first->rect().center());
        QCOMPARE(row.grab().toImage().pixelColor(centre), QColor(Qt::red));
    }

    void userTextSitsInABubbleAtTheRight()
    {
        MessageRow row(message("user", "hello there"));
        row.resize(600, 100);
        row.show();
        QVERIFY(QTest::qWaitForWindowExposed(&row));
        QVERIFY(row.bubble()->isVisible());
        QCOMPARE(row.bubble()->text(), QStringLiteral("hello there"));
        QVERIFY(row.bubble()->geometry().right() >= row.width() - 2);
        QVERIFY(row.bubble()->width() < 300); // snug around a short text
        QVERIFY(row.images().isEmpty());
    }

    // Text from a person, a model or the service shows as written wherever
    // the conversation shows it, and nothing of it is read as markup.
    void hostileTextIsShownAsWritten()
    {
        const QString hostile = QStringLiteral("<h1>Big</h1><img src=\"/some/local/file.png\"> a & b [*] &x");
        Harness h;
        h.useModels({ alpha });
        Chat stored;
        ChatMessage answer = message("assistant", hostile + "\n\n```" + hostile + "\ncode\n```");
        answer.answeredBy = hostile;
        answer.note = hostile;
        stored.messages = { message("user", hostile), answer };
        h.storeChat(stored);
        ShownView shown(*h.vm);
        h.vm->select(stored.id);
        h.fake.onAnyChat(fake::Reply::error(502, hostile));
        h.say(QStringLiteral("again"));
        QVERIFY(h.waitIdle());
        IssueView *issue = shown.view.column()->issueView();
        QVERIFY(issue);
        issue->setDetailsShown(true);

        const QList<MessageRow *> rows = shown.view.rows();
        QCOMPARE(rows.size(), 3);
        const AnswerView *reply = rows[1]->answerView();
        QVERIFY(seenTexts(rows[0]->bubble()).contains(hostile));
        QVERIFY(reply->toPlainText().startsWith(hostile + QLatin1Char('\n'))); // a paragraph
        QCOMPARE(reply->codeBlocks().value(0).caption, hostile); // the code's language
        QVERIFY(seenTexts(rows[1]).contains(
            QStringLiteral("answered by ") + hostile + QStringLiteral(" · ") + hostile));
        const QStringList issueTexts = seenTexts(issue);
        QVERIFY(std::any_of(issueTexts.begin(), issueTexts.end(),
            [&](const QString &text) { return text.contains(hostile); }));
        for (const QString &markup : markupRead(&shown.view)) {
            QVERIFY2(!markup.contains(QLatin1String("<img")) && !markup.contains(QLatin1String("<h1")),
                qPrintable(markup));
        }
    }

    void tryAgainRetriesOnlyWhenIdle()
    {
        Harness h;
        h.useModels({ alpha });
        h.fake.onChat(alpha.id, fake::replies::providerError(503));
        h.fake.onChat(ModelRanker::routerId, fake::replies::providerError(503));
        ShownView shown(*h.vm);
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitIdle());
        QVERIFY(h.vm->issue().has_value());
        IssueView *issue = shown.view.column()->issueView();
        QVERIFY(issue && issue->isVisible());
        QCOMPARE(issue->issue(), *h.vm->issue());
        QAbstractButton *tryAgain = issue->retryButton();
        QVERIFY(tryAgain);
        QCOMPARE(tryAgain->text(), QStringLiteral("Try again"));

        h.fake.reset();
        h.fake.enqueueChat(alpha.id, heldStream(alpha.id, { QStringLiteral("Fine") }, 0));
        const int requests = int(h.fake.chatRequests().size());
        tryAgain->click();
        QVERIFY(h.vm->isStreaming());
        QVERIFY(!h.vm->issue().has_value());
        QVERIFY(waitFor([&] { return h.fake.chatRequests().size() == requests + 1; }));
        QVERIFY(h.releaseUntilIdle());
        QCOMPARE(h.lastMessage().text, QStringLiteral("Fine"));
    }

    void tryAgainDoesNothingWhileStreaming()
    {
        Harness h;
        h.useModels({ alpha });
        h.fake.onChat(alpha.id, fake::replies::providerError(503));
        h.fake.onChat(ModelRanker::routerId, fake::replies::providerError(503));
        ShownView shown(*h.vm);
        h.say(QStringLiteral("hello"));
        QVERIFY(h.waitIdle());
        IssueView *issue = shown.view.column()->issueView();
        QVERIFY(issue);
        QAbstractButton *tryAgain = issue->retryButton();
        QVERIFY(tryAgain);

        // A press that arrives after another generation started (the box
        // is on its way out) must not start one more.
        h.fake.reset();
        h.fake.enqueueChat(alpha.id, heldStream(alpha.id, { QStringLiteral("x") }, 0));
        h.vm->setDraft(QStringLiteral("again"));
        h.vm->send();
        QVERIFY(h.vm->isStreaming());
        const QUuid reply = h.lastMessage().id;
        tryAgain->click();
        QCOMPARE(h.lastMessage().id, reply);
        QVERIFY(h.vm->isStreaming());
        QVERIFY(h.releaseUntilIdle());
    }

    // A chat opened while a search is active shows its first match, far
    // above its end, with the words found marked until the search is cleared.
    void anOpenedChatShowsItsFirstMatchMarked()
    {
        Harness h;
        ShownView shown(*h.vm);
        const std::unique_ptr<ChatSearch> search = h.makeSearch();
        shown.view.showMatchesOf(*search);
        Chat chat;
        chat.title = QStringLiteral("Long chat");
        for (int i = 0; i < 40; ++i) {
            const bool match = i == 3;
            chat.messages.append(message(QStringLiteral("user"),
                match ? QStringLiteral("Is a Crème brûlée hard?") : QStringLiteral("Question %1").arg(i)));
            chat.messages.append(message(QStringLiteral("assistant"),
                match ? QStringLiteral("**Crème** brûlée is easy; creme again.")
                      : QStringLiteral("Answer %1\n\nwith a second paragraph").arg(i)));
        }
        h.storeChat(chat);
        search->setQuery(QStringLiteral("CREME"));
        h.vm->select(chat.id);

        QWidget *viewport = shown.view.scrollArea()->viewport();
        const auto shows = [&](const QUuid &id) {
            const MessageRow *row = shown.view.row(id);
            return row && row->isVisible() && row->mapTo(viewport, QPoint(0, 0)).y() >= 0
                && row->mapTo(viewport, QPoint(0, row->height())).y() <= viewport->height();
        };
        QVERIFY(waitFor([&] { return shows(chat.messages[6].id) && shows(chat.messages[7].id); }));
        QVERIFY(!shown.view.row(chat.messages.last().id)); // the end was never built
        MessageRow *question = shown.view.row(chat.messages[6].id);
        MessageRow *answer = shown.view.row(chat.messages[7].id);
        QCOMPARE(question->bubble()->markCount(), 1);
        QCOMPARE(answer->answerView()->marks().size(), 2); // "Crème" and "creme", not the markup
        const SearchMarks::Span first = answer->answerView()->marks().first();
        QCOMPARE(
            answer->answerView()->toPlainText().mid(first.position, first.length), QStringLiteral("Crème"));

        search->setQuery(QString());
        QCOMPARE(question->bubble()->markCount(), 0);
        QVERIFY(answer->answerView()->marks().isEmpty());
    }

    void rowsFollowTheChatWithoutRebuilding()
    {
        Harness h;
        h.useModels({ alpha });
        ShownView shown(*h.vm);
        h.exchange(QStringLiteral("one"), alpha.id, QStringLiteral("Answer"));
        const QList<MessageRow *> rows = shown.view.rows();
        QCOMPARE(rows.size(), 2);
        // A failed regeneration removes the answer row and adds no other.
        h.fake.onChat(alpha.id, fake::replies::providerError(503));
        h.fake.onChat(ModelRanker::routerId, fake::replies::providerError(503));
        h.vm->regenerate();
        QVERIFY(h.waitIdle());
        QCOMPARE(shown.view.rows().size(), 1);
        QCOMPARE(shown.view.rows().first(), rows.first());
    }
};

QTEST_MAIN(ConversationViewTest)
#include "test_conversation_view.moc"
