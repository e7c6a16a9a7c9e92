#pragma once

#include <QDialog>
#include <QPointer>
#include <QWidget>

class AppModel;
class ChatSearch;
class ConversationView;
class ModelMenu;
class QSplitter;
class QToolButton;
class SidebarView;

// The chat window's content once signed in: the chat list at the left and
// the conversation at the right, both following one search over the chats
// (the list keeps what it finds, the conversation marks it), under a
// toolbar row with the model menu,
// "New chat" and "Settings". While app.showSettings is true the settings
// dialog is open; closing it clears the flag.
class ChatRootView : public QWidget
{
    Q_OBJECT
public:
    explicit ChatRootView(AppModel &app, QWidget *parent = nullptr);
    ~ChatRootView() override;

    ChatSearch &search() const { return *m_search; }
    SidebarView *sidebar() const { return m_sidebar; }
    ConversationView *conversation() const { return m_conversation; }
    ModelMenu *modelMenu() const { return m_modelMenu; }
    QToolButton *newChatButton() const { return m_newChat; }
    QToolButton *settingsButton() const { return m_settings; }
    QSplitter *splitter() const { return m_splitter; }
    QDialog *settingsDialog() const { return m_settingsDialog; }

Q_SIGNALS:
    // The model menu asked for the model ladder window, which is not ours.
    void modelLadderRequested();

private:
    QWidget *makeToolbar();
    void followShowSettings();

    AppModel &m_app;
    ChatSearch *m_search;
    QSplitter *m_splitter;
    SidebarView *m_sidebar;
    ConversationView *m_conversation;
    ModelMenu *m_modelMenu = nullptr;
    QToolButton *m_newChat = nullptr;
    QToolButton *m_settings = nullptr;
    QPointer<QDialog> m_settingsDialog;
};
