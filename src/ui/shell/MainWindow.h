#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>

class AppModel;
class ModelLadderWindow;
class QAction;
class QMenu;
class RootView;

// The one main window: the root view, and the main menu with File (New
// Chat, Search Chats, Export Chat…, Settings…, Quit) and Account (Manage
// Keys on OpenRouter, Sign Out). New Chat, Search Chats, Settings… and
// Sign Out act only while signed in, Export Chat… while the open chat has messages. Closing the
// window hides it while Tolvi stays reachable from the tray; with no tray
// to lead back, closing it quits. It owns the model ladder window, one at
// a time, opened from the model menu.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(AppModel &app, QWidget *parent = nullptr);

    RootView *rootView() const { return m_root; }
    QMenu *fileMenu() const { return m_fileMenu; }
    QMenu *accountMenu() const { return m_accountMenu; }
    QAction *newChatAction() const { return m_newChat; }
    QAction *searchChatsAction() const { return m_searchChats; }
    QAction *exportChatAction() const { return m_exportChat; }
    QAction *settingsAction() const { return m_settings; }
    QAction *quitAction() const { return m_quit; }
    QAction *manageKeysAction() const { return m_manageKeys; }
    QAction *signOutAction() const { return m_signOut; }
    // Opens the model ladder window, or raises it when it is open.
    void showModelLadder();
    ModelLadderWindow *modelLadder() const; // the open one, or null

    // Whether closing only hides the window; asked at every close. By
    // default: whether the desktop offers a system tray.
    void setKeepsRunningWhenClosed(std::function<bool()> rule) { m_keepsRunning = std::move(rule); }

Q_SIGNALS:
    // The window was closed and Tolvi keeps running.
    void closedToTray();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildFileMenu();
    void buildAccountMenu();
    void followSignedIn();
    void followOpenChat();
    void exportChat();
    void focusSearch();

    AppModel &m_app;
    RootView *m_root;
    QMenu *m_fileMenu = nullptr;
    QMenu *m_accountMenu = nullptr;
    QAction *m_newChat = nullptr;
    QAction *m_searchChats = nullptr;
    QAction *m_exportChat = nullptr;
    QAction *m_settings = nullptr;
    QAction *m_quit = nullptr;
    QAction *m_manageKeys = nullptr;
    QAction *m_signOut = nullptr;
    std::function<bool()> m_keepsRunning;
    bool m_quitting = false;
    QPointer<ModelLadderWindow> m_ladder; // deleted when closed
};
