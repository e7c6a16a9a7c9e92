#include "ui/shell/MainWindow.h"

#include "core/app/AppModel.h"
#include "core/conversation/ChatViewModel.h"
#include "core/export/ChatExport.h"
#include "ui/conversation/ChatRootView.h"
#include "ui/ladder/ModelLadderWindow.h"
#include "ui/shell/RootView.h"
#include "ui/sidebar/SidebarView.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStandardPaths>
#include <QSystemTrayIcon>

namespace {

constexpr QSize smallestSize(760, 520);
constexpr QSize defaultSize(1000, 700);

// A file name from a chat's title: no folder separators, no leading dot.
QString exportFileName(const QString &title)
{
    QString name = title;
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    while (name.startsWith(QLatin1Char('.')))
        name.remove(0, 1);
    name = name.trimmed();
    return (name.isEmpty() ? QStringLiteral("Chat") : name) + QStringLiteral(".md");
}

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
    // Quitting closes the windows; that close is not the person's.
    qApp->installEventFilter(this);
    buildFileMenu();
    buildAccountMenu();
    connect(&app, &AppModel::isSignedInChanged, this, &MainWindow::followSignedIn);
    connect(&app.chat(), &ChatViewModel::chatChanged, this, &MainWindow::followOpenChat);
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
    m_searchChats = m_fileMenu->addAction(QStringLiteral("Search Chats"), this, &MainWindow::focusSearch);
    m_searchChats->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    m_exportChat = m_fileMenu->addAction(QStringLiteral("Export Chat…"), this, &MainWindow::exportChat);
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
    m_searchChats->setEnabled(signedIn);
    m_settings->setEnabled(signedIn);
    m_signOut->setEnabled(signedIn);
    followOpenChat();
}

void MainWindow::followOpenChat()
{
    m_exportChat->setEnabled(m_app.isSignedIn() && !m_app.chat().chat().messages.isEmpty());
}

// The chat as it is when the person asks; the dialog is window-modal and
// opened without an event loop of its own.
void MainWindow::exportChat()
{
    const Chat chat = m_app.chat().chat();
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    auto *dialog = new QFileDialog(this, QStringLiteral("Export Chat"),
        QDir(folder.isEmpty() ? QDir::homePath() : folder).filePath(exportFileName(chat.title)),
        QStringLiteral("Markdown (*.md)"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("md"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, [this, chat](const QString &path) {
        ChatExport::start(chat, path, this, [this](std::optional<QString> failure) {
            if (!failure)
                return;
            auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Export Chat"),
                QStringLiteral("Tolvi could not export the chat."), QMessageBox::Ok, this);
            box->setInformativeText(*failure);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        });
    });
    dialog->open();
}

void MainWindow::focusSearch()
{
    if (ChatRootView *chat = m_root->chatView())
        chat->sidebar()->focusSearch();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
    if (m_keepsRunning && m_keepsRunning()) {
        if (!m_quitting)
            Q_EMIT closedToTray();
        return;
    }
    // Queued: quitting closes the open windows first, which lands here again.
    QMetaObject::invokeMethod(
        qApp, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == qApp && event->type() == QEvent::Quit)
        m_quitting = true;
    return QMainWindow::eventFilter(watched, event);
}
