// The open chat as rows: what a view hears while a chat is used, against the
// real controller and the fake service. A view that rebuilds only what it is
// told about must end up showing the chat as it is.

#include "ConversationHarness.h"
#include "FakeFixtures.h"
#include "TestSupport.h"
#include "core/conversation/ConversationModel.h"
#include "core/conversation/SystemPrompt.h"

#include <QAbstractItemModelTester>
#include <QTest>

using namespace convkit;

Q_DECLARE_METATYPE(fake::Reply)

namespace {

const ORModel alpha = model("vendor/alpha:free", "Alpha");
const ORModel beta = model("vendor/beta:free", "Beta");

// What the model announced, in the words of a view.
struct Heard {
    QList<int> inserted;
    QList<int> removed;
    QSet<int> textChanged;
    QSet<int> otherChanged;
    int resets = 0;

    explicit Heard(ConversationModel &model)
    {
        QObject::connect(
            &model, &QAbstractItemModel::rowsInserted, [this](const QModelIndex &, int first, int last) {
                for (int row = first; row <= last; ++row)
                    inserted.append(row);
            });
        QObject::connect(
            &model, &QAbstractItemModel::rowsRemoved, [this](const QModelIndex &, int first, int last) {
                for (int row = first; row <= last; ++row)
                    removed.append(row);
            });
        QObject::connect(&model, &QAbstractItemModel::dataChanged,
            [this](const QModelIndex &from, const QModelIndex &to, const QList<int> &roles) {
                for (int row = from.row(); row <= to.row(); ++row)
                    (roles.contains(ConversationModel::textRole) ? textChanged : otherChanged).insert(row);
            });
        QObject::connect(&model, &QAbstractItemModel::modelReset, [this] { ++resets; });
    }
};

// The rows as the chat says they should be.
QStringList expectedTexts(const Chat &chat)
{
    QStringList texts;
    for (const ChatMessage &message : chat.messages) {
        if (ConversationModel::isShown(message))
            texts.append(message.text);
    }
    return texts;
}

QStringList rowTexts(const ConversationModel &model)
{
    QStringList texts;
    for (int row = 0; row < model.rowCount(); ++row)
        texts.append(model.data(model.index(row), ConversationModel::textRole).toString());
    return texts;
}

} // namespace

class ConversationModelTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { SystemPrompt::write(QString()); }

    // A chat with one exchange already; then a question whose reply comes
    // as `first` says. Only the new rows are touched, and the question's row
    // never after it was added.
    void onlyTheReplysRowChanges_data()
    {
        QTest::addColumn<fake::Reply>("first");
        QTest::addColumn<QList<int>>("inserted");
        QTest::addColumn<QList<int>>("removed");
        QTest::newRow("an answer streams in") << fake::Reply::stream(alpha.id, { "One", " two", " three." })
                                              << QList<int>{ 2, 3 } << QList<int>{};
        // The failed attempt's text is dropped: its row goes, and comes back
        // with the next model's answer.
        QTest::newRow("a model fails after some text") << fake::Reply::streamError(
            alpha.id, { "Partial" }, 502, QStringLiteral("Provider returned error"))
                                                       << QList<int>{ 2, 3, 3 } << QList<int>{ 3 };
        QTest::newRow("a model fails before any text")
            << fake::replies::providerError(503) << QList<int>{ 2, 3 } << QList<int>{};
        // A reasoning model's row comes with its first reasoning, before any
        // text, and goes with the model when it fails.
        fake::StreamOptions reasoning;
        reasoning.reasoning = QStringList{ "Let me", " see." };
        QTest::newRow("a model reasons, then answers")
            << fake::Reply::stream(alpha.id, { "Yes." }, reasoning) << QList<int>{ 2, 3 } << QList<int>{};
        reasoning.finishReason = QStringLiteral("length");
        QTest::newRow("a model reasons, and never answers")
            << fake::Reply::stream(alpha.id, {}, reasoning) << QList<int>{ 2, 3, 3 } << QList<int>{ 3 };
    }
    void onlyTheReplysRowChanges()
    {
        QFETCH(fake::Reply, first);
        QFETCH(QList<int>, inserted);
        QFETCH(QList<int>, removed);
        Harness h;
        h.useModels({ alpha, beta }, { alpha.id, beta.id });
        h.say(QStringLiteral("Earlier question"));
        QVERIFY(h.waitIdle());
        ConversationModel &model = h.vm->conversation();
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        Heard heard(model);
        h.fake.enqueueChat(alpha.id, first);
        h.fake.enqueueChat(beta.id, fake::Reply::stream(beta.id, { "Second", " answer" }));
        h.say(QStringLiteral("Next question"));
        QVERIFY(h.waitIdle());

        QCOMPARE(heard.resets, 0);
        QCOMPARE(heard.inserted, inserted);
        QCOMPARE(heard.removed, removed);
        QCOMPARE(heard.textChanged - QSet<int>{ 3 }, QSet<int>{});
        // Regenerate moves from the earlier answer to the new one.
        QCOMPARE(heard.otherChanged, (QSet<int>{ 1, 3 }));
        QCOMPARE(rowTexts(model), expectedTexts(h.vm->chat()));
        QVERIFY(model.canRegenerate(3));
        QVERIFY(!model.canRegenerate(1));
    }

    // Regenerate, stop, and opening other chats, each against the chat as
    // it then is.
    void rowsFollowTheChat()
    {
        Harness h;
        h.useModels({ alpha });
        ConversationModel &model = h.vm->conversation();
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        h.say(QStringLiteral("First"));
        QVERIFY(h.waitIdle());
        const QUuid firstChat = h.vm->chat().id;
        QCOMPARE(model.rowCount(), 2);

        Heard regenerated(model);
        h.fake.enqueueChat(alpha.id, streamHeldAt(alpha.id, { "Again" }, { 1 }));
        h.vm->regenerate();
        QCOMPARE(regenerated.removed, QList<int>{ 1 });
        QVERIFY(!model.canRegenerate(model.rowCount() - 1)); // the question is last now
        QVERIFY(h.waitChatRequests(2));
        QVERIFY(
            testsupport::waitFor([&] { return h.fake.heldSteps() > 0; })); // the request came before its hold
        QVERIFY(h.fake.release());
        QVERIFY(h.waitIdle());
        QCOMPARE(regenerated.inserted, QList<int>{ 1 });
        QCOMPARE(regenerated.resets, 0);
        QCOMPARE(rowTexts(model), expectedTexts(h.vm->chat()));

        h.vm->newChat();
        QCOMPARE(model.rowCount(), 0);
        Heard reopened(model);
        h.vm->select(firstChat);
        QCOMPARE(reopened.resets, 1);
        QVERIFY(reopened.inserted.isEmpty());
        QCOMPARE(rowTexts(model), expectedTexts(h.vm->chat()));
        QVERIFY(model.canRegenerate(1));
    }
};

QTEST_MAIN(ConversationModelTest)
#include "test_conversation_model.moc"
