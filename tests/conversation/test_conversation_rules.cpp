// The pure rules of a generation: which history is sent, what a failure says,
// how an answer is signed.

#include "core/conversation/HistoryWindow.h"
#include "core/conversation/ReplyWithFallback.h"

#include <QTest>

namespace {

ChatMessage msg(const QString &role, const QString &text, int images = 0)
{
    QStringList urls;
    for (int i = 0; i < images; ++i)
        urls.append(QStringLiteral("data:image/jpeg;base64,AAAA"));
    return ChatMessage{ QUuid::createUuid(), role, text, urls, {}, {} };
}

ORModel withContext(int context)
{
    return ORModel{ QStringLiteral("v/m"), QStringLiteral("M"), context, false };
}

QStringList texts(const QList<APIMessage> &messages)
{
    QStringList out;
    for (const APIMessage &m : messages)
        out.append(m.text);
    return out;
}

} // namespace

class ConversationRulesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void remainder_data()
    {
        QTest::addColumn<int>("context");
        QTest::addColumn<QString>("system");
        QTest::addColumn<qsizetype>("expected");
        QTest::newRow("zero means 8000") << 0 << QString() << qsizetype(4600);
        QTest::newRow("negative means 8000") << -5 << QString() << qsizetype(4600);
        QTest::newRow("truncated budget") << 1001 << QString() << qsizetype(700 - 1000);
        QTest::newRow("system prompt by thirds")
            << 10000 << QString(31, QLatin1Char('s')) << qsizetype(6000 - 10);
        // Three family emoji are three characters, not dozens of code units.
        QTest::newRow("prompt in graphemes")
            << 10000 << QStringLiteral("👨‍👩‍👧👨‍👩‍👧👨‍👩‍👧")
            << qsizetype(5999);
    }
    void remainder()
    {
        QFETCH(int, context);
        QFETCH(QString, system);
        QFETCH(qsizetype, expected);
        QCOMPARE(HistoryWindow::remainder(withContext(context), system), expected);
    }

    void newestMessageAlwaysSent()
    {
        const QList<ChatMessage> chat{ msg("user", "old"), msg("assistant", "answer"),
            msg("user", QString(100000, QLatin1Char('x'))) };
        const QList<APIMessage> sent = HistoryWindow::select(chat, withContext(0), {}, {});
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.first().text.size(), 100000);
    }

    void stopsAtTheFirstMessageThatDoesNotFit()
    {
        // Context 0: 4600 to spend. Costs, newest first: 1001, 1001, then 3001,
        // which no longer fits into 2598; the walk ends there.
        const QList<ChatMessage> chat{ msg("user", "first"), msg("user", QString(9000, QLatin1Char('a'))),
            msg("user", QString(3000, QLatin1Char('b'))), msg("assistant", QString(3000, QLatin1Char('c'))) };
        const QList<APIMessage> sent = HistoryWindow::select(chat, withContext(0), {}, {});
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent.at(0).role, QStringLiteral("user"));
        QCOMPARE(sent.at(1).role, QStringLiteral("assistant"));
    }

    void imagesCostAThousandEach()
    {
        // The newest, with four images, costs 4/3 + 1 + 4000 = 4002, leaving 598.
        const QList<ChatMessage> fits{ msg("user", QString(1791, QLatin1Char('a'))), msg("user", "look", 4) };
        QCOMPARE(HistoryWindow::select(fits, withContext(0), {}, {}).size(), 2);
        const QList<ChatMessage> tooBig{ msg("user", QString(1794, QLatin1Char('a'))),
            msg("user", "look", 4) };
        QCOMPARE(HistoryWindow::select(tooBig, withContext(0), {}, {}).size(), 1);
    }

    void systemPromptShrinksTheHistory()
    {
        const QList<ChatMessage> chat{ msg("user", QString(2997, QLatin1Char('a'))), msg("user", "hi") };
        QCOMPARE(HistoryWindow::select(chat, withContext(0), {}, {}).size(), 2);
        QCOMPARE(HistoryWindow::select(chat, withContext(0), QString(10800, QLatin1Char('p')), {}).size(), 1);
    }

    void leadingAnswersDroppedUnlessAlone()
    {
        const QList<ChatMessage> chat{ msg("assistant", "a1"), msg("assistant", "a2"), msg("user", "u") };
        QCOMPARE(texts(HistoryWindow::select(chat, withContext(0), {}, {})), QStringList{ "u" });
        const QList<ChatMessage> alone{ msg("user", QString(30000, QLatin1Char('u'))),
            msg("assistant", "only") };
        QCOMPARE(texts(HistoryWindow::select(alone, withContext(0), {}, {})), QStringList{ "only" });
    }

    void leavesOutTheReplyBeingFilled()
    {
        const ChatMessage reply = msg("assistant", "");
        const QList<ChatMessage> chat{ msg("user", "q1"), msg("assistant", "a1"), msg("user", "q2"), reply };
        const QList<APIMessage> sent = HistoryWindow::select(chat, withContext(0), {}, reply.id);
        QCOMPARE(texts(sent), (QStringList{ "q1", "a1", "q2" }));
        QCOMPARE(sent.at(1), (APIMessage{ "assistant", "a1", {} }));
    }

    void switchReason_data()
    {
        QTest::addColumn<ORError>("error");
        QTest::addColumn<QString>("reason");
        QTest::newRow("payment") << ORError::paymentRequired("x") << "it needs credit";
        QTest::newRow("gone") << ORError::modelUnavailable("x") << "it is no longer available";
        QTest::newRow("timeout") << ORError::timeout() << "it was slow to respond";
        QTest::newRow("empty") << ORError::emptyReply() << "it sent an empty reply";
        QTest::newRow("rate limited") << ORError::rateLimited("x", 30.0, false) << "it was busy";
        QTest::newRow("server") << ORError::server(502, "x") << "it was busy";
        QTest::newRow("cancelled") << ORError::cancelled() << "it was busy";
    }
    void switchReason()
    {
        QFETCH(ORError, error);
        QFETCH(QString, reason);
        QCOMPARE(ReplyWithFallback::switchReason(error), reason);
    }

    void failureIssue_data()
    {
        QTest::addColumn<std::optional<ORError>>("last");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("details");
        const QString prefix = QStringLiteral("Every free model I tried failed. Last problem: ");
        QTest::newRow("nothing tried")
            << std::optional<ORError>() << QStringList() << "No free model is available right now."
            << "No models were available to try.";
        const ORError offline = ORError::network("offline");
        QTest::newRow("network unprefixed")
            << std::optional(offline) << QStringList{ "A: offline" } << offline.message() << "A: offline";
        const ORError daily = ORError::rateLimited("free-models-per-day", std::nullopt, true);
        QTest::newRow("daily unprefixed")
            << std::optional(daily) << QStringList{ "A: x" } << daily.message() << "A: x";
        const ORError minute = ORError::rateLimited("per-min", 20.0, false);
        QTest::newRow("minute prefixed") << std::optional(minute) << QStringList{ "A: x", "B: y" }
                                         << prefix + minute.message() << "A: x\nB: y";
        QTest::newRow("timeout prefixed") << std::optional(ORError::timeout()) << QStringList{ "A: t" }
                                          << prefix + "The model took too long to start answering."
                                          << "A: t";
    }
    void failureIssue()
    {
        QFETCH(std::optional<ORError>, last);
        QFETCH(QStringList, lines);
        QFETCH(QString, message);
        QFETCH(QString, details);
        QCOMPARE(ReplyWithFallback::failureIssue(last, lines), (AppIssue{ message, details }));
    }

    void displayName_data()
    {
        QTest::addColumn<std::optional<ORModel>>("known");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("name");
        const ORModel known{ "vendor/m:free", "Vendor: M", 1000, false };
        QTest::newRow("known") << std::optional(known) << "vendor/m:free"
                               << "Vendor: M";
        QTest::newRow("provider and free") << std::optional<ORModel>() << "vendor/small-model:free"
                                           << "small-model";
        QTest::newRow("no slash") << std::optional<ORModel>() << "plain"
                                  << "plain";
        QTest::newRow("trailing slash") << std::optional<ORModel>() << "a/b/"
                                        << "b";
        QTest::newRow("only slashes") << std::optional<ORModel>() << "//"
                                      << "//";
        QTest::newRow("every free") << std::optional<ORModel>() << "v/x:free:free"
                                    << "x";
    }
    void displayName()
    {
        QFETCH(std::optional<ORModel>, known);
        QFETCH(QString, id);
        QFETCH(QString, name);
        QCOMPARE(ReplyWithFallback::displayName(known, id), name);
    }

    void cooling()
    {
        const auto coolingFor = &ReplyWithFallback::coolingFor;
        QVERIFY(!coolingFor(ORError::unauthorized("x")).cool);
        QVERIFY(!coolingFor(ORError::rateLimited("daily", 60.0, true)).cool);
        QCOMPARE(coolingFor(ORError::rateLimited("m", 45.0, false)).retryAfter, std::optional(45.0));
        QVERIFY(coolingFor(ORError::server(500, "x")).cool);
        QCOMPARE(coolingFor(ORError::server(500, "x")).retryAfter, std::nullopt);
    }
};

QTEST_GUILESS_MAIN(ConversationRulesTest)
#include "test_conversation_rules.moc"
