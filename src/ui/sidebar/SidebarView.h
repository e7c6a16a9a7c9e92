#pragma once

#include "ui/sidebar/RenameChatDialog.h"

#include <QPointer>
#include <QUuid>
#include <QWidget>

class ChatListModel;
class ChatStore;
class ChatViewModel;
class QLabel;
class QListView;
class QItemSelection;
class QMenu;

// The list of stored chats, newest first. The selected row is the open chat
// (none while the open chat is not stored); choosing a row opens it. Each
// row's context menu renames or deletes its chat. Only the store's list and
// the open chat's id drive it: a streamed reply never touches it.
class SidebarView : public QWidget
{
    Q_OBJECT
public:
    SidebarView(ChatViewModel &vm, ChatStore &store, QWidget *parent = nullptr);

    QListView *list() const { return m_list; }
    ChatListModel *model() const { return m_model; }
    // "No saved chats yet", shown over the empty list.
    QLabel *emptyLabel() const { return m_emptyLabel; }
    // The context menu of a row, as the user gets it; the caller owns it.
    QMenu *contextMenu(int row, QWidget *parent);
    // The rename sheet while it is open.
    RenameChatDialog *renameDialog() const { return m_renaming; }

    void openRenameDialog(int row);

private:
    void showContextMenu(const QPoint &pos);
    void followOpenChat();
    void onSelected(const QItemSelection &selected);
    void updateEmptyLabel();

    ChatViewModel &m_vm;
    ChatListModel *m_model;
    QListView *m_list;
    QLabel *m_emptyLabel;
    QPointer<RenameChatDialog> m_renaming;
    QUuid m_shownChat;
    bool m_syncing = false;
};
