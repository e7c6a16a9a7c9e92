// Every text a person reads in the chat window's content, found exactly as
// written, each in the state that shows it.

#include "FakeFixtures.h"
#include "RootScene.h"
#include "TestSupport.h"
#include "UiHarness.h"
#include "ui/conversation/ConversationView.h"
#include "ui/conversation/MessageRow.h"
#include "ui/modelmenu/ModelMenu.h"
#include "ui/sidebar/RenameChatDialog.h"
#include "ui/sidebar/SidebarView.h"

#include <QHash>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QToolButton>

using namespace uikit;
using testsupport::waitFor;

namespace {

const ORModel alpha{ "vendor/alpha:free", "Alpha", 32000, false };
const ORModel beta{ "vendor/beta:free", "Beta", 32000, false };

QStringList menuTexts(QMenu *menu)
{
    QStringList texts;
    for (const QAction *action : menu->actions())
        texts.append(shownText(action->text()));
    return texts;
}

} // namespace

class ConversationTextsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        RootScene s({ alpha, beta });
        m_seen["fresh"] = visibleTexts(s.root.get());

        s.fake.enqueueChat(alpha.id, fake::replies::providerError(503));
        s.fake.enqueueChat(beta.id, heldStream(beta.id, { QStringLiteral("**Hello**") }, 0));
        s.vm().setDraft(QStringLiteral("Hi there"));
        s.vm().send();
        QVERIFY(waitFor([&] { return s.vm().status() == ChatViewModel::switching; }));
        m_seen["thinking"] = visibleTexts(s.root.get());
        QVERIFY(s.releaseUntilIdle());
        m_seen["answered"] = visibleTexts(s.root.get());

        MessageRow *answer = s.root->conversation()->rows().last();
        answer->copyButton()->click();
        m_seen["copied"] = visibleTexts(s.root.get());

        ModelMenu *menu = s.root->modelMenu();
        menu->rebuildMenu();
        m_seen["menu"] = menuTexts(menu->itemsMenu());

        fake::Reply held = fake::Reply::json(200, QJsonObject{ { "data", fake::catalogue::sample() } });
        held.holdHead = true;
        s.fake.on("GET", "/api/v1/models", held);
        s.app->refreshModels(true);
        QVERIFY(s.app->ranker().isRefreshing());
        menu->rebuildMenu();
        m_seen["refreshing"] = menuTexts(menu->itemsMenu());
        s.fake.releaseAll();

        SidebarView *sidebar = s.root->sidebar();
        QVERIFY(waitFor([&] { return sidebar->model() && !sidebar->emptyLabel()->isVisible(); }));
        std::unique_ptr<QMenu> context(sidebar->contextMenu(0, sidebar));
        m_seen["context menu"] = menuTexts(context.get());
        sidebar->openRenameDialog(0);
        QVERIFY(sidebar->renameDialog());
        m_seen["rename"] = visibleTexts(sidebar->renameDialog());
        sidebar->renameDialog()->reject();

        s.fake.onAnyChat(fake::replies::providerError(503));
        s.vm().setDraft(QStringLiteral("Again"));
        s.vm().send();
        QVERIFY(s.waitIdle());
        m_seen["issue"] = visibleTexts(s.root.get());
    }

    void textIsShown_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("text");
        const QList<std::pair<const char *, QString>> rows{
            { "fresh", "How can I help?" },
            { "fresh", "Ask anything. The fastest free model answers." },
            { "fresh", "No saved chats yet" },
            { "fresh", "New chat" },
            { "fresh", "Settings" },
            { "fresh", "Auto (fastest free)" },
            { "thinking", "Thinking…" },
            { "answered", "Copy" },
            { "answered", "Regenerate" },
            { "answered", "answered by Beta · switched from Alpha because it was busy" },
            { "copied", "Copied" },
            { "menu", "Auto (fastest free)" },
            { "menu", "Current: Beta" },
            { "menu", "Free models" },
            { "menu", "Alpha (cooling down)" },
            { "menu", "Beta" },
            { "menu", "2 free requests used today" }, // the failed attempt counts too
            { "menu", "Refresh list" },
            { "menu", "Show Model Ladder…" },
            { "refreshing", "Refreshing…" },
            { "context menu", "Rename…" },
            { "context menu", "Delete" },
            { "rename", "Rename chat" },
            { "rename", "Title" },
            { "rename", "Cancel" },
            { "rename", "Save" },
            { "issue", "Try again" },
        };
        for (const auto &[state, text] : rows)
            QTest::newRow(qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(state), text)))
                << QString::fromLatin1(state) << text;
    }

    void textIsShown()
    {
        QFETCH(QString, state);
        QFETCH(QString, text);
        QVERIFY2(
            m_seen.value(state).contains(text), qPrintable(m_seen.value(state).join(QStringLiteral(" | "))));
    }

    void textsOnlyWhereTheyBelong_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("text");
        QTest::newRow("no empty state once asked") << "answered"
                                                   << "How can I help?";
        QTest::newRow("no thinking once answered") << "answered"
                                                   << "Thinking…";
        QTest::newRow("no regenerate while streaming") << "thinking"
                                                       << "Regenerate";
        QTest::newRow("no list text with a chat") << "answered"
                                                  << "No saved chats yet";
        QTest::newRow("no refresh item while refreshing") << "refreshing"
                                                          << "Refresh list";
    }

    void textsOnlyWhereTheyBelong()
    {
        QFETCH(QString, state);
        QFETCH(QString, text);
        QVERIFY(!m_seen.value(state).contains(text));
    }

private:
    QHash<QString, QStringList> m_seen;
};

QTEST_MAIN(ConversationTextsTest)
#include "test_conversation_texts.moc"
