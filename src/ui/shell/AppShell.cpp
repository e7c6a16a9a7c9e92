#include "ui/shell/AppShell.h"

#include "core/app/AppNotifications.h"
#include "core/hotkey/GlobalHotKey.h"
#include "core/hotkey/HotKeyStatus.h"
#include "core/hotkey/X11Activation.h"
#include "core/shell/FirstCloseHint.h"
#include "core/shell/ShellLog.h"
#include "ui/icons/Icons.h"
#include "ui/shell/MainWindow.h"

#include <QCoreApplication>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>

AppShell::AppShell(MainWindow &window, AppNotifications &notifications, QObject *parent)
    : QObject(parent)
    , m_window(window)
    , m_notifications(notifications)
    , m_hotKey(std::make_unique<GlobalHotKey>())
{
    connect(&m_window, &MainWindow::closedToTray, this, &AppShell::sayStillRunning);
}

AppShell::~AppShell() = default;

void AppShell::launch()
{
    installTrayIcon();
    registerHotKey();
}

void AppShell::installTrayIcon()
{
    m_menu = std::make_unique<QMenu>();
    m_show = m_menu->addAction(QStringLiteral("Show Tolvi"), this, &AppShell::showFromMenu);
    m_newChat = m_menu->addAction(QStringLiteral("New Chat"), this, &AppShell::newChatFromMenu);
    m_menu->addSeparator();
    m_quit = m_menu->addAction(QStringLiteral("Quit Tolvi"), qApp, &QCoreApplication::quit);

    m_tray = std::make_unique<QSystemTrayIcon>(Icons::app());
    m_tray->setToolTip(QStringLiteral("Tolvi"));
    m_tray->setContextMenu(m_menu.get());
    connect(
        m_tray.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger)
                showFromMenu();
        });
    // Shown also when no tray is there yet: Qt puts the icon in place once
    // a tray appears.
    m_tray->show();
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        qCInfo(lcShell) << "no system tray yet: closing the window quits Tolvi";
}

void AppShell::registerHotKey()
{
    const QPointer<AppShell> self(this);
    m_hotKey->setCallback([self](std::uint32_t timestamp) {
        if (self)
            self->showMainWindow(true, timestamp);
    });
    connect(m_hotKey.get(), &GlobalHotKey::registeredChanged, &HotKeyStatus::shared(),
        &HotKeyStatus::setRegistered);
    HotKeyStatus::shared().setRegistered(m_hotKey->registerHotKey());
}

void AppShell::sayStillRunning()
{
    if (!m_tray)
        return;
    const bool showsMessages
        = QSystemTrayIcon::isSystemTrayAvailable() && QSystemTrayIcon::supportsMessages();
    const QString hint = FirstCloseHint::take(showsMessages, HotKeyStatus::shared().registered());
    if (!hint.isEmpty())
        m_tray->showMessage(QStringLiteral("Tolvi"), hint, Icons::app());
}

void AppShell::showMainWindow(bool focus, std::uint32_t x11Time)
{
    if (m_window.isMinimized())
        m_window.setWindowState(m_window.windowState() & ~Qt::WindowMinimized);
    m_window.show();
    m_window.raise();
    m_window.activateWindow();
    if (x11Time != 0 && m_window.windowHandle())
        X11Activation::activate(*m_window.windowHandle(), x11Time);
    if (focus)
        m_notifications.postFocusInput();
}

void AppShell::showFromMenu()
{
    showMainWindow(true);
}

void AppShell::newChatFromMenu()
{
    showMainWindow(false);
    m_notifications.postNewChat();
}
