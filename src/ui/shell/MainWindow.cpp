#include "ui/shell/MainWindow.h"

#include "core/app/AppModel.h"
#include "ui/ladder/ModelLadderWindow.h"
#include "ui/shell/RootView.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QSystemTrayIcon>

namespace {

constexpr QSize smallestSize(760, 520);
constexpr QSize defaultSize(1000, 700);

} // namespace

MainWindow::MainWindow(AppModel &app, QWidget *parent)
    : QMainWindow(parent)
    , m_app(app)
    , m_root(new RootView(app, this))
    , m_keepsRunning([] { return QSystemTrayIcon::isSystemTrayAvailable(); })
{
    setWindowTitle(QStringLiteral("Tolvi"));
    // The content's minimum; the menu bar comes on top of it.
    m_root->setMinimumSize(smallestSize);
    setCentralWidget(m_root);
    resize(defaultSize);
    // Closing decides for itself whether it quits (see closeEvent).
    QGuiApplication::setQuitOnLastWindowClosed(false);
    buildFileMenu();
    buildAccountMenu();
    connect(&app, &AppModel::isSignedInChanged, this, &MainWindow::followSignedIn);
    connect(m_root, &RootView::modelLadderRequested, this, &MainWindow::showModelLadder);
    followSignedIn();
}

ModelLadderWindow *MainWindow::modelLadder() const
{
    return m_ladder;
}

void MainWindow::showModelLadder()
{
    if (!m_ladder) {
        m_ladder = new ModelLadderWindow(
            m_app.ranker(), m_app.chat(), [this] { m_app.refreshModels(true); }, this);
        m_ladder->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_ladder->show();
    m_ladder->raise();
    m_ladder->activateWindow();
}

void MainWindow::buildFileMenu()
{
    m_fileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    m_newChat = m_fileMenu->addAction(QStringLiteral("New Chat"), this, [this] { m_app.chat().newChat(); });
    m_newChat->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    m_settings
        = m_fileMenu->addAction(QStringLiteral("Settings…"), this, [this] { m_app.setShowSettings(true); });
    m_settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    m_fileMenu->addSeparator();
    m_quit = m_fileMenu->addAction(QStringLiteral("Quit"), qApp, &QCoreApplication::quit);
    m_quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
}

void MainWindow::buildAccountMenu()
{
    m_accountMenu = menuBar()->addMenu(QStringLiteral("&Account"));
    m_manageKeys = m_accountMenu->addAction(
        QStringLiteral("Manage Keys on OpenRouter"), this, [this] { m_app.openKeysPage(); });
    m_signOut = m_accountMenu->addAction(QStringLiteral("Sign Out"), this, [this] { m_app.signOut(); });
}

void MainWindow::followSignedIn()
{
    const bool signedIn = m_app.isSignedIn();
    m_newChat->setEnabled(signedIn);
    m_settings->setEnabled(signedIn);
    m_signOut->setEnabled(signedIn);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
    // Queued: quitting closes the open windows first, which lands here again.
    if (!m_keepsRunning || !m_keepsRunning())
        QMetaObject::invokeMethod(
            qApp, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
}
