#pragma once

#include <QObject>
#include <cstdint>
#include <memory>

class AppNotifications;
class GlobalHotKey;
class MainWindow;
class QAction;
class QMenu;
class QSystemTrayIcon;

// What lives beside the main window for the whole run: the tray icon with
// its menu (Show Tolvi, New Chat, Quit Tolvi; a left click shows the
// window) and the global hot key Control+Alt+Space. Every way back to the
// window goes through showMainWindow(). The first close says, once, how to
// bring the window back.
class AppShell : public QObject
{
    Q_OBJECT
public:
    AppShell(MainWindow &window, AppNotifications &notifications, QObject *parent = nullptr);
    ~AppShell() override;

    // The launch steps: installs the tray icon, gives the hot key its
    // callback and registers it, and records in HotKeyStatus whether that
    // worked.
    void launch();

    // Restores the window when minimised, shows it, raises and activates
    // it; with focus, asks for the keyboard focus in the message input. An
    // X time is that of the person's action that asked for the window.
    void showMainWindow(bool focus, std::uint32_t x11Time = 0);
    void showFromMenu();
    void newChatFromMenu();

    QSystemTrayIcon *trayIcon() const { return m_tray.get(); }
    QMenu *trayMenu() const { return m_menu.get(); }
    QAction *showAction() const { return m_show; }
    QAction *newChatAction() const { return m_newChat; }
    QAction *quitAction() const { return m_quit; }
    GlobalHotKey &hotKey() { return *m_hotKey; }

private:
    void installTrayIcon();
    void registerHotKey();
    void sayStillRunning();

    MainWindow &m_window;
    AppNotifications &m_notifications;
    std::unique_ptr<GlobalHotKey> m_hotKey;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_tray; // after its menu: destroyed before it
    QAction *m_show = nullptr;
    QAction *m_newChat = nullptr;
    QAction *m_quit = nullptr;
};
