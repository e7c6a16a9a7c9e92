// Following the end of the conversation: sticking while a reply streams,
// letting go on one wheel movement toward earlier content, re-attaching
// near the end, and jumping to the end on send and on another chat.

#include "TestSupport.h"
#include "UiHarness.h"
#include "ui/conversation/ConversationView.h"
#include "ui/conversation/MessageRow.h"
#include "ui/conversation/ScrollFollower.h"

#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

using namespace uikit;
using testsupport::waitFor;

namespace {

const ORModel alpha = model("vendor/alpha:free", "Alpha");

QString paragraphs(int count, const QString &word)
{
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines.append(word + QStringLiteral(" line %1").arg(i));
    return lines.join(QStringLiteral("\n\n"));
}

Chat longChat(int messages)
{
    Chat chat;
    for (int i = 0; i < messages; ++i) {
        ChatMessage m;
        m.role = i % 2 ? QStringLiteral("assistant") : QStringLiteral("user");
        m.text = i % 2 ? paragraphs(6, QStringLiteral("answer %1").arg(i))
                       : QStringLiteral("question %1").arg(i);
        chat.messages.append(m);
    }
    return chat;
}

void wheel(QWidget *target, int deltaY)
{
    const QPointF pos(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent event(pos, target->mapToGlobal(pos), QPoint(), QPoint(0, deltaY), Qt::NoButton,
        Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

struct Scene {
    Scene()
    {
        h.useModels({ alpha });
        view = std::make_unique<ConversationView>(*h.vm);
        view->resize(700, 420);
        view->show();
        if (!QTest::qWaitForWindowExposed(view.get()))
            qFatal("not shown");
    }
    QScrollBar *bar() const { return view->scrollArea()->verticalScrollBar(); }
    bool atEnd() const { return bar()->maximum() > 0 && bar()->value() == bar()->maximum(); }
    bool settledAtEnd() const
    {
        return waitFor([this] { return atEnd(); });
    }
    QUuid openStored(const Chat &chat)
    {
        h.storeChat(chat);
        h.vm->select(chat.id);
        return chat.id;
    }

    Harness h;
    std::unique_ptr<ConversationView> view;
};

} // namespace

class ScrollPolicyTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void followsWhileStreamingUntilTheWheelGoesUp()
    {
        Scene s;
        s.openStored(longChat(6));
        QVERIFY(s.settledAtEnd());
        QStringList pieces;
        for (int i = 0; i < 8; ++i)
            pieces.append(paragraphs(4, QStringLiteral("piece %1").arg(i)) + QStringLiteral("\n\n"));
        s.h.fake.enqueueChat(alpha.id, heldStream(alpha.id, pieces, 2));
        s.h.say(QStringLiteral("tell me more"));
        QVERIFY(s.view->isStickingToBottom());
        QVERIFY(waitFor([&] { return s.h.lastMessage().text == pieces[0]; }));
        QVERIFY(s.settledAtEnd());

        // Each flush grows the reply; the view stays at the end.
        for (int i = 1; i < 3; ++i) {
            const int before = s.bar()->maximum();
            QVERIFY(s.h.fake.release());
            QVERIFY(waitFor([&] { return s.bar()->maximum() > before && s.atEnd(); }));
        }

        // One wheel step toward earlier content lets go.
        wheel(s.view->scrollArea()->viewport(), 120);
        QVERIFY(!s.view->isStickingToBottom());
        QVERIFY(!s.atEnd());
        const int reading = s.bar()->value();
        const int before = s.bar()->maximum();
        QVERIFY(s.h.fake.release());
        QVERIFY(waitFor([&] { return s.bar()->maximum() > before; }));
        QApplication::processEvents();
        QCOMPARE(s.bar()->value(), reading);
        QVERIFY(!s.view->isStickingToBottom());

        // Back to within 40 pixels of the end: following again.
        s.bar()->setValue(s.bar()->maximum() - 30);
        QVERIFY(s.view->isStickingToBottom());
        const int grown = s.bar()->maximum();
        QVERIFY(s.h.fake.release());
        QVERIFY(waitFor([&] { return s.bar()->maximum() > grown && s.atEnd(); }));
        QVERIFY(s.h.releaseUntilIdle());
    }

    void scrollingTowardTheEndNeverLetsGo()
    {
        Scene s;
        s.openStored(longChat(6));
        QVERIFY(s.settledAtEnd());
        wheel(s.view->scrollArea()->viewport(), -120);
        QVERIFY(s.view->isStickingToBottom());
        // Dragging the bar far up is not a wheel movement either.
        s.bar()->setValue(0);
        QVERIFY(s.view->isStickingToBottom());
    }

    void aWheelAnywhereInTheApplicationLetsGo()
    {
        Scene s;
        s.openStored(longChat(6));
        QVERIFY(s.settledAtEnd());
        QWidget elsewhere;
        elsewhere.resize(100, 100);
        elsewhere.show();
        wheel(&elsewhere, 120);
        QVERIFY(!s.view->isStickingToBottom());
    }

    void farFromTheEndDoesNotReattach()
    {
        Scene s;
        s.openStored(longChat(6));
        QVERIFY(s.settledAtEnd());
        wheel(s.view->scrollArea()->viewport(), 120);
        s.bar()->setValue(s.bar()->maximum() - 41);
        QVERIFY(!s.view->isStickingToBottom());
        s.bar()->setValue(s.bar()->maximum() - 40);
        QVERIFY(s.view->isStickingToBottom());
    }

    void sendingJumpsToTheEnd()
    {
        Scene s;
        s.openStored(longChat(6));
        QVERIFY(s.settledAtEnd());
        wheel(s.view->scrollArea()->viewport(), 120);
        s.bar()->setValue(0);
        QVERIFY(!s.view->isStickingToBottom());
        s.h.fake.enqueueChat(alpha.id, heldStream(alpha.id, { QStringLiteral("ok") }, 0));
        s.h.say(QStringLiteral("again"));
        QVERIFY(s.view->isStickingToBottom());
        QVERIFY(s.settledAtEnd());
        QVERIFY(s.h.releaseUntilIdle());
    }

    void openingAnotherChatJumpsToItsEnd()
    {
        Scene s;
        s.openStored(longChat(6));
        QVERIFY(s.settledAtEnd());
        wheel(s.view->scrollArea()->viewport(), 120);
        s.bar()->setValue(0);
        QVERIFY(!s.view->isStickingToBottom());
        const Chat other = longChat(8);
        s.openStored(other);
        QVERIFY(s.view->isStickingToBottom());
        QVERIFY(s.settledAtEnd());
        // Only the other chat's rows, down to its last message.
        const QList<MessageRow *> rows = s.view->rows();
        QVERIFY(!rows.isEmpty());
        QCOMPARE(rows.last()->message().id, other.messages.last().id);
        for (const MessageRow *row : rows)
            QVERIFY(other.messages.contains(row->message()));
    }

    void thinkingAndIssueScrollOnlyWhenSticking()
    {
        Scene s;
        s.openStored(longChat(6));
        QVERIFY(s.settledAtEnd());
        s.h.fake.onChat(alpha.id, fake::Reply::error(503, QStringLiteral("down")));
        s.h.fake.onChat(ModelRanker::routerId, fake::Reply::error(503, QStringLiteral("down")));
        s.h.say(QStringLiteral("fail please"));
        QVERIFY(s.h.waitIdle());
        QVERIFY(s.h.vm->issue().has_value());
        QVERIFY(s.settledAtEnd()); // the issue box is in view

        wheel(s.view->scrollArea()->viewport(), 120);
        s.bar()->setValue(0);
        s.h.vm->clearIssue();
        QApplication::processEvents();
        QCOMPARE(s.bar()->value(), 0);
    }

    void theMonitorExistsWhileShown()
    {
        Scene s;
        QVERIFY(s.view->follower()->isMonitorInstalled());
        s.view->hide();
        QVERIFY(!s.view->follower()->isMonitorInstalled());
        wheel(s.view->scrollArea()->viewport(), 120);
        QVERIFY(s.view->isStickingToBottom());
        s.view->show();
        QVERIFY(s.view->follower()->isMonitorInstalled());
    }

    void aLongChatBuildsOnlyTheRowsNearTheView()
    {
        Scene s;
        const Chat chat = longChat(120);
        s.openStored(chat);
        QVERIFY(s.settledAtEnd());
        const auto shownIds = [&] {
            QList<QUuid> ids;
            for (const MessageRow *row : s.view->rows())
                ids.append(row->message().id);
            return ids;
        };
        const auto chatIds = [&](qsizetype from, qsizetype count) {
            QList<QUuid> ids;
            for (qsizetype i = from; i < from + count; ++i)
                ids.append(chat.messages[i].id);
            return ids;
        };
        QList<QUuid> shown = shownIds();
        QVERIFY(!shown.isEmpty() && shown.size() < 60);
        QCOMPARE(shown, chatIds(chat.messages.size() - shown.size(), shown.size()));
        QApplication::processEvents();

        // At the top the first rows exist and the last ones are gone.
        wheel(s.view->scrollArea()->viewport(), 120);
        QVERIFY(waitFor([&] {
            s.bar()->setValue(0);
            return shownIds().value(0) == chat.messages.first().id;
        }));
        shown = shownIds();
        QVERIFY(shown.size() < 60);
        QCOMPARE(shown, chatIds(0, shown.size()));
        QCOMPARE(s.view->row(chat.messages.last().id), nullptr);

        // Back at the end, as it was.
        s.view->follower()->scrollToEnd();
        QVERIFY(s.settledAtEnd());
        QCOMPARE(shownIds().last(), chat.messages.last().id);
    }

    void rowsBuiltAboveDoNotMoveWhatAReaderLooksAt()
    {
        Scene s;
        const Chat chat = longChat(120);
        s.openStored(chat);
        QVERIFY(s.settledAtEnd());
        QApplication::processEvents(); // the open's layout reaches the scroll bar
        wheel(s.view->scrollArea()->viewport(), 120);
        QVERIFY(!s.view->isStickingToBottom());
        QWidget *viewport = s.view->scrollArea()->viewport();
        const int step = viewport->height() / 2;
        // Each step up builds rows above whose height was a guess; the row
        // at the top of the view moves by the step and nothing more.
        for (int i = 0; i < 12 && s.bar()->value() > step; ++i) {
            MessageRow *anchor = nullptr;
            for (MessageRow *row : s.view->rows()) {
                if (row->mapTo(viewport, QPoint(0, row->height())).y() > 0) {
                    anchor = row;
                    break;
                }
            }
            QVERIFY(anchor);
            const int before = anchor->mapTo(viewport, QPoint()).y();
            s.bar()->setValue(s.bar()->value() - step);
            QCOMPARE(anchor->mapTo(viewport, QPoint()).y(), before + step);
        }
        QVERIFY(!s.view->isStickingToBottom());
    }
};

QTEST_MAIN(ScrollPolicyTest)
#include "test_scroll_policy.moc"
