// The chat window's content over a real application model: the split
// columns, the toolbar's buttons, the settings dialog bound to
// app.showSettings, and the model menu's refresh.

#include "FakeFixtures.h"
#include "RootScene.h"
#include "TestSupport.h"
#include "ui/conversation/ConversationView.h"
#include "ui/conversation/MessageColumn.h"
#include "ui/input/InputBar.h"
#include "ui/modelmenu/ModelMenu.h"
#include "ui/settings/SettingsView.h"
#include "ui/sidebar/ChatListModel.h"
#include "ui/sidebar/SidebarView.h"
#include "ui/widgets/IssueView.h"

#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
#include <QTest>
#include <QToolButton>

using namespace uikit;
using testsupport::waitFor;

namespace {

const QList<ORModel> models{ { "vendor/alpha:free", "Alpha", 32000, false } };

} // namespace

class ChatRootTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sidebarColumnWidth()
    {
        RootScene s(models);
        QSplitter *splitter = s.root->splitter();
        QCOMPARE(splitter->widget(0), s.root->sidebar());
        QCOMPARE(splitter->sizes().first(), 210);
        QCOMPARE(s.root->sidebar()->minimumWidth(), 160);
        QCOMPARE(s.root->sidebar()->maximumWidth(), 280);
        splitter->setSizes({ 600, 400 });
        QVERIFY(waitFor([&] { return s.root->sidebar()->width() == 280; }));
        splitter->setSizes({ 50, 950 });
        QVERIFY(waitFor([&] { return s.root->sidebar()->width() == 160; }));
    }

    void newChatButton()
    {
        RootScene s(models);
        QToolButton *button = s.root->newChatButton();
        QCOMPARE(button->toolTip(), QStringLiteral("New chat"));
        QCOMPARE(button->accessibleName(), QStringLiteral("New chat"));
        QVERIFY(!button->icon().isNull());
        s.vm().setDraft(QStringLiteral("typed"));
        const QUuid before = s.vm().chat().id;
        const int focus = s.vm().focusToken();
        button->click();
        QVERIFY(s.vm().chat().id != before);
        QCOMPARE(s.vm().draft(), QString());
        QCOMPARE(s.vm().focusToken(), focus + 1);
    }

    void settingsFollowTheFlag()
    {
        RootScene s(models);
        QToolButton *button = s.root->settingsButton();
        QCOMPARE(button->toolTip(), QStringLiteral("Settings"));
        QCOMPARE(button->accessibleName(), QStringLiteral("Settings"));
        QVERIFY(!s.root->settingsDialog());

        button->click();
        QVERIFY(s.app->showSettings());
        auto *dialog = qobject_cast<SettingsView *>(s.root->settingsDialog());
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        QVERIFY(dialog->isModal());
        s.app->setShowSettings(true); // already open: still one dialog
        QCOMPARE(s.root->settingsDialog(), dialog);

        dialog->doneButton()->click(); // closing clears the flag
        QVERIFY(!s.app->showSettings());
        QVERIFY(waitFor([&] { return !s.root->settingsDialog(); }));

        s.app->setShowSettings(true); // the flag alone opens it
        QVERIFY(s.root->settingsDialog() && s.root->settingsDialog()->isVisible());
        s.app->setShowSettings(false); // and clearing it closes it
        QVERIFY(waitFor([&] { return !s.root->settingsDialog(); }));
        QVERIFY(!s.app->showSettings());
    }

    void refreshFromTheMenuForcesAModelRefresh()
    {
        RootScene s(models);
        s.fake.setCatalogue(fake::catalogue::sample());
        s.fake.clearRequests();
        ModelMenu *menu = s.root->modelMenu();
        menu->rebuildMenu();
        QAction *refresh = nullptr;
        for (QAction *action : menu->itemsMenu()->actions()) {
            if (action->text() == QLatin1String("Refresh list"))
                refresh = action;
        }
        QVERIFY(refresh);
        refresh->trigger();
        QVERIFY(waitFor([&] { return !s.fake.requests("/api/v1/models").isEmpty(); }));
        QVERIFY(waitFor([&] { return !s.app->ranker().isRefreshing(); }));
    }

    void theWholeRoadOfAMessage()
    {
        RootScene s(models);
        s.vm().setDraft(QStringLiteral("Hello window"));
        s.vm().send();
        QVERIFY(s.waitIdle());
        ConversationView *conversation = s.root->conversation();
        QCOMPARE(conversation->rows().size(), 2);
        QVERIFY(waitFor([&] { return s.root->sidebar()->model()->rowCount() == 1; }));
        QCOMPARE(s.root->sidebar()->model()->index(0).data().toString(), QStringLiteral("Hello window"));
        QCOMPARE(s.root->modelMenu()->label(), QStringLiteral("Auto (fastest free)"));
    }

    // The window's views are given the application's quota: what it says
    // shows where a person looks before sending.
    void quotaReachesTheMenuAndTheInputBar()
    {
        RootScene s(models);
        ModelMenu *menu = s.root->modelMenu();
        QLabel *line = s.root->conversation()->inputBar()->quotaLine();
        QCOMPARE(menu->toolTip(), QStringLiteral("Model")); // nothing known, nothing counted
        QVERIFY(!line->isVisibleTo(s.root.get()));

        s.vm().setDraft(QStringLiteral("Hello window"));
        s.vm().send();
        QVERIFY(s.waitIdle());
        const QString used = QStringLiteral("1 free request used today");
        QCOMPARE(menu->toolTip(), used);
        QCOMPARE(menu->accessibleDescription(), used);
        menu->rebuildMenu();
        QStringList items;
        for (const QAction *action : menu->itemsMenu()->actions())
            items.append(action->text());
        QVERIFY2(items.contains(used), qPrintable(items.join(QLatin1Char('|'))));
        QVERIFY(!line->isVisibleTo(s.root.get()));

        s.app->quota().noteDailyLimit(RateLimit{ 50, 0, std::nullopt });
        QCOMPARE(menu->toolTip(), QStringLiteral("0 of 50 free requests left today"));
        QVERIFY(line->isVisibleTo(s.root.get()));
        QVERIFY2(
            line->text().startsWith(QStringLiteral("Free requests reset at ")), qPrintable(line->text()));
        QCOMPARE(line->accessibleName(), line->text());
    }

    void aFailedSaveShowsItsOwnIssue()
    {
        RootScene s(models);
        const QString blocked = s.app->store().chatPath(s.vm().chat().id);
        QVERIFY(QDir().mkpath(blocked));
        s.vm().setDraft(QStringLiteral("Hello window"));
        s.vm().send();
        QVERIFY(s.waitIdle());
        MessageColumn *column = s.root->conversation()->column();
        QVERIFY(waitFor([&] { return column->saveIssueView() != nullptr; }));
        IssueView *box = column->saveIssueView();
        QCOMPARE(box->messageLabel()->text(), QStringLiteral("Couldn't save this chat."));
        QVERIFY(box->isVisibleTo(column));
        QCOMPARE(column->issueView(), nullptr);

        QVERIFY(QDir().rmdir(blocked));
        box->retryButton()->click();
        QVERIFY(waitFor([&] { return column->saveIssueView() == nullptr; }));
        QCOMPARE(s.root->conversation()->rows().size(), 2);
    }
};

QTEST_MAIN(ChatRootTest)
#include "test_chat_root.moc"
