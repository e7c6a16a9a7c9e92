// The shell against a real application model: an unlocked keyring in a
// private D-Bus session (tests/auth/with-keyring), the fake service over real
// sockets. The main window's menus and root view, the tray menu, closing and
// quitting, and every text of the sign-in, issue, settings and shell views.
#include "FakeFixtures.h"
#include "FakeService.h"
#include "ShellTestKit.h"
#include "TestSupport.h"
#include "core/app/AppModel.h"
#include "core/app/AppNotifications.h"
#include "core/auth/KeychainStore.h"
#include "core/hotkey/GlobalHotKey.h"
#include "core/hotkey/HotKeyStatus.h"
#include "core/ladder/LadderModel.h"
#include "core/util/AppPaths.h"
#include "ui/conversation/ChatRootView.h"
#include "ui/ladder/ModelLadderWindow.h"
#include "ui/modelmenu/ModelMenu.h"
#include "ui/settings/SettingsView.h"
#include "ui/shell/AppShell.h"
#include "ui/shell/MainWindow.h"
#include "ui/shell/RootView.h"
#include "ui/sidebar/SidebarView.h"
#include "ui/signin/SignInView.h"

#include <QAccessible>
#include <QAccessibleTableInterface>
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QTreeView>

namespace {

const QString goodKey = QStringLiteral("sk-or-v1-good");

QStringList actionTexts(const QMenu *menu)
{
    QStringList texts;
    for (const QAction *action : menu->actions())
        texts.append(action->isSeparator() ? QStringLiteral("--") : action->text());
    return texts;
}

// Counts the quit requests that reach the application.
class QuitCounter : public QObject
{
public:
    QuitCounter() { qApp->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == qApp && event->type() == QEvent::Quit)
            ++count;
        return false;
    }
};

} // namespace

class ShellTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void menusWhileSignedOut();
    void signingInSwitchesViewAndMenus();
    void settingsFromTheMenu();
    void modelLadderFromTheModelMenu();
    void signOutFromTheMenu();
    void typedKeyClearedWhenSignedInChanges();
    void revocationNoticeOnSignInScreen();

    void trayMenu();
    void trayNewChatShowsWindowAndStartsChat();
    void trayShowRestoresMinimisedWindow();
    void trayClickShowsWindow_data();
    void trayClickShowsWindow();
    void closingHidesOrQuits_data();
    void closingHidesOrQuits();
    void quitEndsTheLoopNormally_data();
    void quitEndsTheLoopNormally();

    void everyTextAppearsExactly_data();
    void everyTextAppearsExactly();

private:
    void makeWindow();
    void makeShell();
    void submitKey();
    void signIn();
    void activate();

    fake::FakeService m_fake;
    std::unique_ptr<OpenRouterClient> m_client;
    AppNotifications m_notifications;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<AppShell> m_shell;
    shelltest::UrlRecorder m_browser;
};

void ShellTest::initTestCase()
{
    QVERIFY2(qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"), "run through tests/auth/with-keyring");
    QVERIFY(m_fake.start());
    m_client = std::make_unique<OpenRouterClient>(m_fake.origin());
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_browser, "open");
}

void ShellTest::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
}

void ShellTest::init()
{
    m_fake.reset();
    m_fake.clearRequests();
    m_fake.setValidKeys({ goodKey });
    m_fake.setCatalogue(fake::catalogue::sample());
    KeychainStore::remove();
    QDir(AppPaths::dir()).removeRecursively();
    QSettings(QStringLiteral("Tolvi"), QStringLiteral("Tolvi")).clear();
    HotKeyStatus::shared().setRegistered(true);
    m_browser.opened.clear();
}

void ShellTest::cleanup()
{
    m_shell.reset();
    m_window.reset();
    m_model.reset();
    m_fake.releaseAll();
}

void ShellTest::makeWindow()
{
    m_model = std::make_unique<AppModel>(m_notifications, *m_client);
    m_window = std::make_unique<MainWindow>(*m_model);
    m_window->rootView()->setFadeDuration(0);
    m_window->setKeepsRunningWhenClosed([] { return true; });
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void ShellTest::makeShell()
{
    m_shell = std::make_unique<AppShell>(*m_window, m_notifications);
    m_shell->launch();
}

void ShellTest::activate()
{
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

// Signs in the way a person does: the key link, the key, Continue.
void ShellTest::submitKey()
{
    SignInView *signInView = m_window->rootView()->signInView();
    QVERIFY(signInView);
    QTest::mouseClick(signInView->keyLink(), Qt::LeftButton);
    QTest::keyClicks(signInView->keyField(), goodKey);
    QTest::mouseClick(signInView->continueButton(), Qt::LeftButton);
}

void ShellTest::signIn()
{
    submitKey();
    QVERIFY(testsupport::waitFor([&] { return m_model->isSignedIn(); }));
    QCOMPARE(KeychainStore::load(), std::optional<QString>(goodKey));
}

// ---- the main window ----------------------------------------------------------------

void ShellTest::menusWhileSignedOut()
{
    makeWindow();
    activate();
    QCOMPARE(actionTexts(m_window->fileMenu()),
        QStringList(
            { QStringLiteral("New Chat"), QStringLiteral("Search Chats"), QStringLiteral("Export Chat…"),
                QStringLiteral("Settings…"), QStringLiteral("--"), QStringLiteral("Quit") }));
    QCOMPARE(actionTexts(m_window->accountMenu()),
        QStringList({ QStringLiteral("Manage Keys on OpenRouter"), QStringLiteral("Sign Out") }));
    QCOMPARE(m_window->newChatAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+N")));
    QCOMPARE(m_window->settingsAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+,")));
    QCOMPARE(m_window->searchChatsAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+F")));
    QCOMPARE(m_window->quitAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));

    QVERIFY(!m_window->newChatAction()->isEnabled());
    QVERIFY(!m_window->searchChatsAction()->isEnabled());
    QVERIFY(!m_window->exportChatAction()->isEnabled());
    QVERIFY(!m_window->settingsAction()->isEnabled());
    QVERIFY(!m_window->signOutAction()->isEnabled());
    QVERIFY(m_window->manageKeysAction()->isEnabled());
    QVERIFY(m_window->quitAction()->isEnabled());
    QVERIFY(m_window->rootView()->signInView());
    QVERIFY(!m_window->rootView()->chatView());
    // The smallest window leaves the content at least 760 × 520.
    m_window->resize(100, 100);
    QTRY_VERIFY_WITH_TIMEOUT(
        m_window->rootView()->width() >= 760 && m_window->rootView()->height() >= 520, 30000);

    // The shortcuts do nothing while signed out.
    const QUuid chatBefore = m_model->chat().chat().id;
    const int focusBefore = m_model->chat().focusToken();
    QTest::keyClick(m_window.get(), Qt::Key_N, Qt::ControlModifier);
    QTest::keyClick(m_window.get(), Qt::Key_Comma, Qt::ControlModifier);
    QCOMPARE(m_model->chat().chat().id, chatBefore);
    QCOMPARE(m_model->chat().focusToken(), focusBefore);
    QVERIFY(!m_model->showSettings());

    m_window->manageKeysAction()->trigger();
    QCOMPARE(m_browser.opened, QList<QUrl>({ QUrl(m_fake.origin() + QStringLiteral("/keys")) }));
}

void ShellTest::signingInSwitchesViewAndMenus()
{
    makeWindow();
    signIn();
    QVERIFY(m_window->rootView()->chatView());
    QVERIFY(!m_window->rootView()->signInView());
    QVERIFY(m_window->newChatAction()->isEnabled());
    QVERIFY(m_window->settingsAction()->isEnabled());
    QVERIFY(m_window->signOutAction()->isEnabled());
    QVERIFY(m_window->manageKeysAction()->isEnabled());
    // Export needs something to export.
    QVERIFY(!m_window->exportChatAction()->isEnabled());
    m_model->chat().setDraft(QStringLiteral("hello"));
    m_model->chat().send();
    QVERIFY(m_window->exportChatAction()->isEnabled());

    activate();
    const QUuid chatBefore = m_model->chat().chat().id;
    QTest::keyClick(m_window.get(), Qt::Key_N, Qt::ControlModifier);
    QVERIFY(m_model->chat().chat().id != chatBefore);
    QVERIFY(!m_window->exportChatAction()->isEnabled());

    // Ctrl+F goes to the search field, its text selected.
    QLineEdit *search = m_window->rootView()->chatView()->sidebar()->searchField();
    search->setText(QStringLiteral("older query"));
    QTest::keyClick(m_window.get(), Qt::Key_F, Qt::ControlModifier);
    QVERIFY(search->hasFocus());
    QCOMPARE(search->selectedText(), QStringLiteral("older query"));
    shelltest::saveScreenshot(m_window.get(), QStringLiteral("chat-window"));
}

// The model menu's item opens one ladder window, which the main window owns
// and raises when asked again; a screen reader finds its controls and rows.
void ShellTest::modelLadderFromTheModelMenu()
{
    makeWindow();
    signIn();
    QVERIFY(testsupport::waitFor([&] { return !m_model->ranker().isRefreshing(); }));
    ModelMenu *menu = m_window->rootView()->chatView()->modelMenu();
    auto chooseLadder = [menu] {
        menu->rebuildMenu();
        for (QAction *action : menu->itemsMenu()->actions()) {
            if (action->text() == QStringLiteral("Show Model Ladder…"))
                action->trigger();
        }
    };
    chooseLadder();
    const QPointer<ModelLadderWindow> ladder = m_window->modelLadder();
    QVERIFY(ladder);
    QVERIFY(QTest::qWaitForWindowExposed(ladder.data()));
    QVERIFY(ladder->isWindow());
    QCOMPARE(ladder->windowTitle(), QStringLiteral("Model Ladder"));
    chooseLadder();
    QCOMPARE(m_window->modelLadder(), ladder.data());
    QCOMPARE(m_window->findChildren<ModelLadderWindow *>().size(), 1);

    for (QWidget *control : ladder->findChildren<QWidget *>()) {
        if (control->focusPolicy() != Qt::NoFocus && control->isVisible())
            QVERIFY2(!control->accessibleName().isEmpty(), control->metaObject()->className());
    }
    const QStringList ladderIDs = m_model->ranker().ladderIDs();
    QAccessibleInterface *table = QAccessible::queryAccessibleInterface(ladder->table());
    QVERIFY(table && table->tableInterface());
    QCOMPARE(table->tableInterface()->rowCount(), ladderIDs.size());
    const LadderRow &first = ladder->ladder()->rows().first();
    QAccessibleInterface *name = table->tableInterface()->cellAt(0, LadderModel::nameColumn);
    QVERIFY(name);
    QCOMPARE(name->text(QAccessible::Name), first.name);
    QCOMPARE(name->text(QAccessible::Description), first.spoken());
    QAccessibleInterface *status = table->tableInterface()->cellAt(0, LadderModel::statusColumn);
    QVERIFY(status);
    QCOMPARE(status->text(QAccessible::Name), QStringLiteral("next"));

    ladder->close();
    QVERIFY(testsupport::waitForDeletion(ladder));
    chooseLadder();
    QVERIFY(m_window->modelLadder());
}

void ShellTest::settingsFromTheMenu()
{
    makeWindow();
    signIn();
    activate();
    QTest::keyClick(m_window.get(), Qt::Key_Comma, Qt::ControlModifier);
    QVERIFY(m_model->showSettings());
    QDialog *dialog = m_window->rootView()->chatView()->settingsDialog();
    QVERIFY(qobject_cast<SettingsView *>(dialog));
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QVERIFY(dialog->isModal());
    QCOMPARE(dialog->parentWidget(), m_window.get());

    QTest::mouseClick(static_cast<SettingsView *>(dialog)->doneButton(), Qt::LeftButton);
    QVERIFY(!m_model->showSettings());
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->rootView()->chatView()->settingsDialog(), 30000);
}

void ShellTest::signOutFromTheMenu()
{
    makeWindow();
    signIn();
    m_window->signOutAction()->trigger();
    QVERIFY(!m_model->isSignedIn());
    // The key leaves the keyring on the keyring's own thread.
    QVERIFY(testsupport::waitFor([] { return !KeychainStore::load(); }));
    QVERIFY(m_window->rootView()->signInView());
    QVERIFY(m_window->rootView()->signInView()->isVisible());
    QVERIFY(!m_window->rootView()->chatView());
    QVERIFY(!m_window->newChatAction()->isEnabled());
    QVERIFY(!m_window->searchChatsAction()->isEnabled());
    QVERIFY(!m_window->exportChatAction()->isEnabled());
    QVERIFY(!m_window->settingsAction()->isEnabled());
    QVERIFY(!m_window->signOutAction()->isEnabled());
    // The key field is closed again and empty when opened.
    SignInView *view = m_window->rootView()->signInView();
    QVERIFY(view->keyLink()->isVisible());
    QTest::mouseClick(view->keyLink(), Qt::LeftButton);
    QCOMPARE(view->keyField()->text(), QString());
}

void ShellTest::typedKeyClearedWhenSignedInChanges()
{
    makeWindow();
    // A view that outlives the changes, unlike the root view's own.
    SignInView view(*m_model);
    view.show();
    m_model->setShowKeyField(true);
    QTest::keyClicks(view.keyField(), QStringLiteral("sk-or-v1-half-typed"));

    m_model->useOwnKey(goodKey);
    QVERIFY(testsupport::waitFor([&] { return m_model->isSignedIn(); }));
    QCOMPARE(view.keyField()->text(), QString());
    QVERIFY(!view.continueButton()->isEnabled());

    QTest::keyClicks(view.keyField(), QStringLiteral("sk-or-v1-typed-while-signed-in"));
    m_model->signOut();
    QCOMPARE(view.keyField()->text(), QString());
}

void ShellTest::revocationNoticeOnSignInScreen()
{
    m_fake.on("GET", "/api/v1/models", fake::replies::unauthorized());
    makeWindow();
    // Signed in, then out again as soon as the model refresh is refused.
    submitKey();
    QVERIFY(testsupport::waitFor([&] { return m_model->notice().has_value(); }));
    QVERIFY(!m_model->isSignedIn());
    SignInView *view = m_window->rootView()->signInView();
    QVERIFY(view);
    QVERIFY(view->noticeLabel()->isVisible());
    QCOMPARE(view->noticeLabel()->text(), AppModel::revokedNotice);
    QCOMPARE(view->noticeLabel()->textFormat(), Qt::PlainText);
    QVERIFY(view->noticeLabel()->wordWrap());
    QVERIFY(view->noticeLabel()->width() <= 380);
    // Two lines at that width, and room for both.
    QLabel *notice = view->noticeLabel();
    QTRY_VERIFY_WITH_TIMEOUT(notice->height() >= notice->heightForWidth(notice->width()), 30000);
    QVERIFY(notice->heightForWidth(notice->width()) >= 2 * notice->fontMetrics().lineSpacing());
    shelltest::saveScreenshot(m_window.get(), QStringLiteral("sign-in-revoked"));

    // The next attempt clears it.
    QTest::mouseClick(view->signInButton(), Qt::LeftButton);
    QVERIFY(!view->noticeLabel()->isVisible());
    QTest::mouseClick(view->cancelButton(), Qt::LeftButton);
}

// ---- the tray and the ways back to the window ------------------------------------------

void ShellTest::trayMenu()
{
    makeWindow();
    makeShell();
    QCOMPARE(actionTexts(m_shell->trayMenu()),
        QStringList({ QStringLiteral("Show Tolvi"), QStringLiteral("New Chat"), QStringLiteral("--"),
            QStringLiteral("Quit Tolvi") }));
    for (const QAction *action : m_shell->trayMenu()->actions())
        QVERIFY(action->shortcut().isEmpty());
    QCOMPARE(m_shell->trayIcon()->toolTip(), QStringLiteral("Tolvi"));
    QCOMPARE(m_shell->trayIcon()->contextMenu(), m_shell->trayMenu());
    QVERIFY(!m_shell->trayIcon()->icon().isNull());
    // Offscreen there is no global grab: the status says so, for the
    // settings view's warning.
    QCOMPARE(HotKeyStatus::shared().registered(), m_shell->hotKey().isRegistered());
    QVERIFY(!HotKeyStatus::shared().registered());
}

void ShellTest::trayNewChatShowsWindowAndStartsChat()
{
    makeWindow();
    signIn();
    makeShell();
    m_window->close();
    QVERIFY(!m_window->isVisible());
    const QUuid chatBefore = m_model->chat().chat().id;
    const int focusBefore = m_model->chat().focusToken();

    m_shell->newChatAction()->trigger();
    QVERIFY(m_window->isVisible());
    QVERIFY(testsupport::waitFor([&] { return m_model->chat().chat().id != chatBefore; }));
    // Only the new chat asks for the focus; the showing itself does not.
    shelltest::roundTrip(QUrl(m_fake.origin() + QStringLiteral("/settle")));
    QCOMPARE(m_model->chat().focusToken(), focusBefore + 1);
}

void ShellTest::trayShowRestoresMinimisedWindow()
{
    makeWindow();
    makeShell();
    m_window->showMinimized();
    QVERIFY(m_window->isMinimized());
    const int focusBefore = m_model->chat().focusToken();

    m_shell->showAction()->trigger();
    QVERIFY(!m_window->isMinimized());
    QVERIFY(m_window->isVisible());
    QVERIFY(testsupport::waitFor([&] { return m_model->chat().focusToken() == focusBefore + 1; }));
}

void ShellTest::trayClickShowsWindow_data()
{
    QTest::addColumn<int>("reason");
    QTest::addColumn<bool>("shows");
    QTest::newRow("left click") << int(QSystemTrayIcon::Trigger) << true;
    QTest::newRow("menu") << int(QSystemTrayIcon::Context) << false;
}

void ShellTest::trayClickShowsWindow()
{
    QFETCH(int, reason);
    QFETCH(bool, shows);
    makeWindow();
    makeShell();
    m_window->close();
    Q_EMIT m_shell->trayIcon()->activated(QSystemTrayIcon::ActivationReason(reason));
    QCOMPARE(m_window->isVisible(), shows);
}

void ShellTest::closingHidesOrQuits_data()
{
    QTest::addColumn<bool>("trayAvailable");
    QTest::newRow("with a tray") << true;
    QTest::newRow("without a tray") << false;
}

// Runs the real event loop: closing without a tray must end it, closing with
// one must leave it running until Quit Tolvi.
void ShellTest::closingHidesOrQuits()
{
    QFETCH(bool, trayAvailable);
    makeWindow();
    makeShell();
    m_window->setKeepsRunningWhenClosed([trayAvailable] { return trayAvailable; });
    QSignalSpy closedToTray(m_window.get(), &MainWindow::closedToTray);
    QuitCounter quits;
    int quitsAfterClose = -1;
    QTimer::singleShot(0, m_window.get(), [&] {
        m_window->close();
        // Posted after anything the close posted, so it sees a quit the
        // close asked for.
        QMetaObject::invokeMethod(
            m_window.get(),
            [&] {
                quitsAfterClose = quits.count;
                if (quits.count == 0)
                    m_shell->quitAction()->trigger();
            },
            Qt::QueuedConnection);
    });
    // Fails a hang instead of waiting for the test's time-out.
    QTimer::singleShot(60000, m_window.get(), [] { QCoreApplication::exit(99); });
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!m_window->isVisible());
    QCOMPARE(quitsAfterClose, trayAvailable ? 0 : 1);
    QCOMPARE(closedToTray.count(), trayAvailable ? 1 : 0);
}

void ShellTest::quitEndsTheLoopNormally_data()
{
    QTest::addColumn<bool>("fromTray");
    QTest::newRow("File menu") << false;
    QTest::newRow("tray menu") << true;
}

void ShellTest::quitEndsTheLoopNormally()
{
    QFETCH(bool, fromTray);
    makeWindow();
    makeShell();
    QSignalSpy closedToTray(m_window.get(), &MainWindow::closedToTray);
    QAction *quit = fromTray ? m_shell->quitAction() : m_window->quitAction();
    QTimer::singleShot(0, quit, &QAction::trigger);
    QTimer::singleShot(60000, m_window.get(), [] { QCoreApplication::exit(99); });
    QCOMPARE(QCoreApplication::exec(), 0);
    // Quitting closes the open window; that is no close to the tray to explain.
    QVERIFY(!m_window->isVisible());
    QCOMPARE(closedToTray.count(), 0);
}

// ---- the texts ----------------------------------------------------------------------

void ShellTest::everyTextAppearsExactly_data()
{
    QTest::addColumn<QString>("surface");
    QTest::addColumn<QString>("text");
    const QList<std::pair<const char *, QStringList>> table{
        { "sign-in",
            { QStringLiteral("Tolvi"), QStringLiteral("Free AI chat through your OpenRouter account"),
                QStringLiteral("Try again"), QStringLiteral("Show Details"),
                QStringLiteral("Waiting for you in the browser…"), QStringLiteral("Cancel"),
                QStringLiteral("Sign in with OpenRouter"), QStringLiteral("OpenRouter API key"),
                QStringLiteral("Continue"), QStringLiteral("Use my own API key") } },
        { "settings",
            { QStringLiteral("Settings"), QStringLiteral("System prompt"),
                QStringLiteral("Sent with every message. Leave empty for none."),
                QStringLiteral("Global shortcut"),
                QStringLiteral("Control-Alt-Space shows Tolvi from anywhere."),
                QStringLiteral("This shortcut couldn't be registered. Another app is probably using it."),
                QStringLiteral("Done") } },
        { "window",
            { QStringLiteral("Tolvi"), QStringLiteral("File"), QStringLiteral("New Chat"),
                QStringLiteral("Search Chats"), QStringLiteral("Settings…"), QStringLiteral("Quit"),
                QStringLiteral("Account"), QStringLiteral("Manage Keys on OpenRouter"),
                QStringLiteral("Sign Out") } },
        { "tray",
            { QStringLiteral("Tolvi"), QStringLiteral("Show Tolvi"), QStringLiteral("New Chat"),
                QStringLiteral("Quit Tolvi") } },
    };
    for (const auto &[surface, texts] : table)
        for (const QString &text : texts)
            QTest::addRow("%s: %s", surface, qPrintable(text)) << QString::fromLatin1(surface) << text;
}

void ShellTest::everyTextAppearsExactly()
{
    QFETCH(QString, surface);
    QFETCH(QString, text);
    makeWindow();
    makeShell();
    QStringList found;
    if (surface == QLatin1String("sign-in")) {
        found = shelltest::allTexts(m_window->rootView()->signInView());
    } else if (surface == QLatin1String("settings")) {
        SettingsView settings;
        found = shelltest::allTexts(&settings) << settings.windowTitle();
    } else if (surface == QLatin1String("window")) {
        found = shelltest::allTexts(m_window->menuBar()) << m_window->windowTitle();
    } else {
        found = shelltest::allTexts(m_shell->trayMenu()) << m_shell->trayIcon()->toolTip();
        for (const QAction *action : m_shell->trayMenu()->actions())
            found << action->text();
    }
    QVERIFY2(
        found.contains(text), qPrintable(QStringLiteral("not among: ") + found.join(QStringLiteral(" | "))));
}

QTEST_MAIN(ShellTest)
#include "test_shell.moc"
