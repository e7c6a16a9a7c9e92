// The chat list: its rows and empty text, the selection bound to the open
// chat, renaming through the sheet, deleting (the open chat too, also while
// its reply streams), and the search that filters it.

#include "TestSupport.h"
#include "UiHarness.h"
#include "ui/sidebar/ChatListModel.h"
#include "ui/sidebar/RenameChatDialog.h"
#include "ui/sidebar/SidebarView.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>

using namespace uikit;
using testsupport::waitFor;

namespace {

const ORModel alpha = model("vendor/alpha:free", "Alpha");

Chat storedChat(const QString &title, const QString &text = {})
{
    Chat chat;
    chat.title = title;
    ChatMessage m;
    m.role = QStringLiteral("user");
    m.text = text.isEmpty() ? title : text;
    chat.messages.append(m);
    return chat;
}

QStringList titles(const SidebarView &sidebar)
{
    QStringList list;
    for (int row = 0; row < sidebar.model()->rowCount(); ++row)
        list.append(sidebar.model()->index(row).data().toString());
    return list;
}

int selectedRow(const SidebarView &sidebar)
{
    const QModelIndexList selected = sidebar.list()->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

QAction *menuAction(QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

void trigger(SidebarView &sidebar, int row, const QString &item)
{
    std::unique_ptr<QMenu> menu(sidebar.contextMenu(row, &sidebar));
    QAction *action = menuAction(menu.get(), item);
    QVERIFY(action);
    action->trigger();
}

QPushButton *button(QWidget *dialog, const QString &text)
{
    for (QPushButton *b : dialog->findChildren<QPushButton *>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

struct Scene {
    Scene()
        : search(h.makeSearch())
        , sidebar(*h.vm, *h.store, *search)
    {
        h.useModels({ alpha });
        sidebar.resize(220, 400);
        sidebar.show();
    }
    void type(const QString &query)
    {
        sidebar.searchField()->clear();
        QTest::keyClicks(sidebar.searchField(), query);
    }
    bool waitTitles(const QStringList &expected)
    {
        return waitFor([&] { return titles(sidebar) == expected; });
    }
    Harness h;
    std::unique_ptr<ChatSearch> search;
    SidebarView sidebar;
};

} // namespace

class SidebarTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void emptyUntilTheFirstMessageIsSaved()
    {
        Scene s;
        QVERIFY(s.sidebar.emptyLabel()->isVisible());
        QCOMPARE(s.sidebar.emptyLabel()->text(), QStringLiteral("No saved chats yet"));
        QCOMPARE(selectedRow(s.sidebar), -1);
        s.h.exchange(QStringLiteral("First question"), alpha.id, QStringLiteral("Answer"));
        QVERIFY(s.waitTitles({ QStringLiteral("First question") }));
        QVERIFY(!s.sidebar.emptyLabel()->isVisible());
        QCOMPARE(selectedRow(s.sidebar), 0); // the open chat, now stored
    }

    void rowsAreNewestFirstAndPlainText()
    {
        Scene s;
        const QString hostile = QStringLiteral("<h1>Big</h1><img src=\"/some/local/file.png\">  a & b");
        s.h.storeChat(storedChat(QStringLiteral("Older")));
        s.h.storeChat(storedChat(hostile));
        QVERIFY(s.waitTitles({ hostile, QStringLiteral("Older") }));
        QCOMPARE(s.sidebar.list()->textElideMode(), Qt::ElideRight);
        // The tooltip shows the title as written: no heading, no image.
        QTextDocument tooltip;
        tooltip.setHtml(s.sidebar.model()->index(0).data(Qt::ToolTipRole).toString());
        QCOMPARE(tooltip.toPlainText(), hostile);
        QCOMPARE(s.sidebar.model()->index(0).data(Qt::AccessibleTextRole).toString(), hostile);
    }

    void selectionFollowsTheOpenChat()
    {
        Scene s;
        const Chat older = storedChat(QStringLiteral("Older"));
        const Chat newer = storedChat(QStringLiteral("Newer"));
        s.h.storeChat(older);
        s.h.storeChat(newer);
        QVERIFY(s.waitTitles({ QStringLiteral("Newer"), QStringLiteral("Older") }));
        QCOMPARE(selectedRow(s.sidebar), -1); // a new, unsaved chat is open

        s.h.vm->select(older.id);
        QCOMPARE(selectedRow(s.sidebar), 1);
        s.h.vm->newChat();
        QCOMPARE(selectedRow(s.sidebar), -1);
    }

    void choosingARowOpensItsChat()
    {
        Scene s;
        const Chat older = storedChat(QStringLiteral("Older"));
        const Chat newer = storedChat(QStringLiteral("Newer"));
        s.h.storeChat(older);
        s.h.storeChat(newer);
        QVERIFY(s.waitTitles({ QStringLiteral("Newer"), QStringLiteral("Older") }));
        QListView *list = s.sidebar.list();
        const QRect rect = list->visualRect(s.sidebar.model()->index(1));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        QCOMPARE(s.h.vm->chat().id, older.id);
        QCOMPARE(selectedRow(s.sidebar), 1);
        // Clearing the selection opens nothing.
        list->selectionModel()->clear();
        QCOMPARE(s.h.vm->chat().id, older.id);
    }

    void aStreamedFlushLeavesTheListAlone()
    {
        Scene s;
        s.h.exchange(QStringLiteral("Question"), alpha.id, QStringLiteral("Answer"));
        QVERIFY(s.waitTitles({ QStringLiteral("Question") }));
        QSignalSpy changes(s.sidebar.model(), &QAbstractItemModel::dataChanged);
        QSignalSpy selection(s.sidebar.list()->selectionModel(), &QItemSelectionModel::selectionChanged);
        s.h.fake.enqueueChat(alpha.id, heldStream(alpha.id, { QStringLiteral("a"), QStringLiteral("b") }, 2));
        s.h.say(QStringLiteral("more"));
        QVERIFY(waitFor([&] { return s.h.lastMessage().text == QLatin1String("a"); }));
        QVERIFY(s.h.fake.release());
        QVERIFY(waitFor([&] { return s.h.lastMessage().text == QLatin1String("ab"); }));
        QCOMPARE(changes.size(), 0);
        QCOMPARE(selection.size(), 0);
        QVERIFY(s.h.releaseUntilIdle());
    }

    void renameSaves_data()
    {
        QTest::addColumn<bool>("withReturn");
        QTest::newRow("Save") << false;
        QTest::newRow("Return in the field") << true;
    }

    void renameSaves()
    {
        QFETCH(bool, withReturn);
        Scene s;
        const Chat other = storedChat(QStringLiteral("Old title"));
        s.h.storeChat(other);
        QVERIFY(s.waitTitles({ QStringLiteral("Old title") }));
        trigger(s.sidebar, 0, QStringLiteral("Rename…"));
        RenameChatDialog *dialog = s.sidebar.renameDialog();
        QVERIFY(dialog);
        QVERIFY(dialog->isModal());
        QCOMPARE(dialog->field()->text(), QStringLiteral("Old title"));
        QCOMPARE(dialog->field()->placeholderText(), QStringLiteral("Title"));
        QCOMPARE(dialog->field()->width(), 280);
        QVERIFY(button(dialog, QStringLiteral("Save"))->isDefault());

        dialog->field()->setText(QStringLiteral("  New title "));
        if (withReturn)
            QTest::keyClick(dialog->field(), Qt::Key_Return);
        else
            button(dialog, QStringLiteral("Save"))->click();
        QVERIFY(s.waitTitles({ QStringLiteral("New title") }));
        QVERIFY(waitFor([&] { return !s.sidebar.renameDialog(); }));
        QCOMPARE(s.h.vm->chat().title, QStringLiteral("New chat")); // the open chat is another
    }

    void renameCancelKeepsTheTitle()
    {
        Scene s;
        const Chat chat = storedChat(QStringLiteral("Kept"));
        s.h.storeChat(chat);
        s.h.vm->select(chat.id);
        trigger(s.sidebar, 0, QStringLiteral("Rename…"));
        RenameChatDialog *dialog = s.sidebar.renameDialog();
        QVERIFY(dialog);
        dialog->field()->setText(QStringLiteral("Changed"));
        button(dialog, QStringLiteral("Cancel"))->click();
        QVERIFY(waitFor([&] { return !s.sidebar.renameDialog(); }));
        QCOMPARE(titles(s.sidebar), QStringList{ QStringLiteral("Kept") });
        QCOMPARE(s.h.vm->chat().title, QStringLiteral("Kept"));
    }

    void deletingAnotherChatLeavesTheOpenOne()
    {
        Scene s;
        const Chat open = storedChat(QStringLiteral("Open"));
        const Chat other = storedChat(QStringLiteral("Other"));
        s.h.storeChat(open);
        s.h.storeChat(other);
        s.h.vm->select(open.id);
        QVERIFY(s.waitTitles({ QStringLiteral("Other"), QStringLiteral("Open") }));
        trigger(s.sidebar, 0, QStringLiteral("Delete"));
        QVERIFY(s.waitTitles({ QStringLiteral("Open") }));
        QCOMPARE(s.h.vm->chat().id, open.id);
        QCOMPARE(selectedRow(s.sidebar), 0);
        s.h.store->drain();
        QVERIFY(!QFile::exists(s.h.store->chatPath(other.id)));
    }

    void deletingTheOpenChatOpensANewOne()
    {
        Scene s;
        const Chat open = storedChat(QStringLiteral("Open"));
        s.h.storeChat(open);
        s.h.vm->select(open.id);
        const int focus = s.h.vm->focusToken();
        trigger(s.sidebar, 0, QStringLiteral("Delete"));
        QVERIFY(s.h.vm->chat().id != open.id);
        QVERIFY(s.h.vm->chat().messages.isEmpty());
        QCOMPARE(s.h.vm->focusToken(), focus + 1);
        QVERIFY(s.waitTitles({}));
        QVERIFY(s.sidebar.emptyLabel()->isVisible());
    }

    void searchKeepsWhatItFinds_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("found");
        QTest::newRow("case and accents")
            << QStringLiteral("RESUME") << QStringList{ QStringLiteral("Résumé tips") };
        QTest::newRow("a message's text")
            << QStringLiteral("passport") << QStringList{ QStringLiteral("Holiday") };
        QTest::newRow("every word, each a word's start")
            << QStringLiteral("tax ret") << QStringList{ QStringLiteral("Tax return") };
        QTest::newRow("inside a word is no match") << QStringLiteral("eturn") << QStringList{};
        QTest::newRow("nothing") << QStringLiteral("zebra") << QStringList{};
    }

    void searchKeepsWhatItFinds()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, found);
        Scene s;
        QLineEdit *field = s.sidebar.searchField();
        QCOMPARE(field->placeholderText(), QStringLiteral("Search chats"));
        QCOMPARE(field->accessibleName(), QStringLiteral("Search chats"));
        QVERIFY(field->isClearButtonEnabled());
        s.h.storeChat(storedChat(QStringLiteral("Résumé tips")));
        s.h.storeChat(storedChat(QStringLiteral("Tax return")));
        s.h.storeChat(storedChat(QStringLiteral("Holiday"), QStringLiteral("Where is my passport?")));
        const QStringList all{ QStringLiteral("Holiday"), QStringLiteral("Tax return"),
            QStringLiteral("Résumé tips") };
        QVERIFY(s.waitTitles(all));

        s.type(query);
        QVERIFY(s.waitTitles(found));
        QVERIFY(waitFor([&] { return s.sidebar.emptyLabel()->isVisible() == found.isEmpty(); }));
        if (found.isEmpty())
            QCOMPARE(s.sidebar.emptyLabel()->accessibleName(), QStringLiteral("No chats match"));

        QTest::keyClick(field, Qt::Key_Escape);
        QCOMPARE(field->text(), QString());
        QCOMPARE(titles(s.sidebar), all); // at once: an empty query needs no index
        QVERIFY(!s.sidebar.emptyLabel()->isVisible());
    }

    void searchFollowsStoredAndDeletedChats()
    {
        Scene s;
        const Chat open = storedChat(QStringLiteral("Garden plan"));
        const Chat other = storedChat(QStringLiteral("Recipes"));
        for (const Chat &chat : { open, other })
            s.h.storeChat(chat);
        s.h.vm->select(open.id);
        s.type(QStringLiteral("plan"));
        QVERIFY(s.waitTitles({ QStringLiteral("Garden plan") }));
        QCOMPARE(selectedRow(s.sidebar), 0); // the open chat, still chosen

        s.h.storeChat(storedChat(QStringLiteral("Planets")));
        QVERIFY(s.waitTitles({ QStringLiteral("Planets"), QStringLiteral("Garden plan") }));
        QCOMPARE(selectedRow(s.sidebar), 1);
        s.h.vm->rename(other.id, QStringLiteral("Meal plan"));
        QVERIFY(s.waitTitles(
            { QStringLiteral("Meal plan"), QStringLiteral("Planets"), QStringLiteral("Garden plan") }));
        trigger(s.sidebar, 2, QStringLiteral("Delete"));
        QVERIFY(s.waitTitles({ QStringLiteral("Meal plan"), QStringLiteral("Planets") }));
        QCOMPARE(selectedRow(s.sidebar), -1);
    }

    void theMenuOffersRenameThenDelete()
    {
        Scene s;
        s.h.storeChat(storedChat(QStringLiteral("A")));
        std::unique_ptr<QMenu> menu(s.sidebar.contextMenu(0, &s.sidebar));
        QStringList items;
        for (QAction *action : menu->actions())
            items.append(action->text());
        QCOMPARE(items, (QStringList{ QStringLiteral("Rename…"), QStringLiteral("Delete") }));
    }
};

QTEST_MAIN(SidebarTest)
#include "test_sidebar.moc"
