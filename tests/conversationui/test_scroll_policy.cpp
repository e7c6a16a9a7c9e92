// Following the end of the conversation: sticking while a reply streams,
// letting go on one wheel movement toward earlier content, re-attaching
// near the end, and jumping to the end on send and on another chat.

#include "TestSupport.h"
#include "UiHarness.h"
#include "ui/conversation/ConversationView.h"
#include "ui/conversation/MessageColumn.h"
#include "ui/conversation/MessageList.h"
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
        s.openStored(longChat(8));
        QVERIFY(s.view->isStickingToBottom());
        QVERIFY(s.settledAtEnd());
        QCOMPARE(s.view->rows().size(), 8);
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

    void aLongChatOpensAtItsEndAndFillsInOlderRows()
    {
        Scene s;
        const Chat chat = longChat(120);
        s.openStored(chat);
        MessageList *list = s.view->column()->list();
        QCOMPARE(s.view->rows().size(), MessageList::firstRows);
        QCOMPARE(s.view->rows().last()->message().id, chat.messages.last().id);
        QVERIFY(waitFor([&] { return list->isComplete(); }));
        QCOMPARE(s.view->rows().size(), 120);
        for (int i = 0; i < 120; ++i)
            QCOMPARE(s.view->rows()[i]->message().id, chat.messages[i].id);
        QVERIFY(s.settledAtEnd());
    }

    void olderRowsDoNotMoveWhatAReaderLooksAt()
    {
        Scene s;
        s.openStored(longChat(120));
        MessageList *list = s.view->column()->list();
        QVERIFY(!list->isComplete());
        QVERIFY(waitFor([&] { return s.atEnd(); }));
        wheel(s.view->scrollArea()->viewport(), 120);
        s.bar()->setValue(s.bar()->maximum() - 200);
        QVERIFY(!s.view->isStickingToBottom());
        QVERIFY(!list->isComplete());
        QVERIFY(waitFor([&] { return list->isComplete(); }));
        QApplication::processEvents();
        QCOMPARE(s.bar()->maximum() - s.bar()->value(), 200);
        QVERIFY(!s.view->isStickingToBottom());
    }
};

QTEST_MAIN(ScrollPolicyTest)
#include "test_scroll_policy.moc"
