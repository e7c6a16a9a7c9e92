#pragma once

#include "ui/sidebar/RenameChatDialog.h"

#include <QPointer>
#include <QUuid>
#include <QWidget>

class ChatListModel;
class ChatSearch;
class ChatStore;
class ChatViewModel;
class QLabel;
class QLineEdit;
class QListView;
class QItemSelection;
class QMenu;

// The list of stored chats, newest first, under a search field that keeps
// only the chats the search finds (Escape in the field clears it). The
// selected row is the open chat (none while the open chat is not stored or
// not found); choosing a row opens it. Each row's context menu renames or
// deletes its chat. Only the store's list, the search's results and the
// open chat's id drive it: a streamed reply never touches it.
class SidebarView : public QWidget
{
    Q_OBJECT
public:
    SidebarView(ChatViewModel &vm, ChatStore &store, ChatSearch &search, QWidget *parent = nullptr);

    QLineEdit *searchField() const { return m_searchField; }
    // Puts the keyboard in the search field, its text selected.
    void focusSearch();
    QListView *list() const { return m_list; }
    ChatListModel *model() const { return m_model; }
    // "No saved chats yet", or "No chats match" while searching, shown over
    // the empty list.
    QLabel *emptyLabel() const { return m_emptyLabel; }
    // The context menu of a row, as the user gets it; the caller owns it.
    QMenu *contextMenu(int row, QWidget *parent);
    // The rename sheet while it is open.
    RenameChatDialog *renameDialog() const { return m_renaming; }

    void openRenameDialog(int row);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLineEdit *makeSearchField();
    void followResults();
    void showContextMenu(const QPoint &pos);
    void followOpenChat();
    void onSelected(const QItemSelection &selected);
    void updateEmptyLabel();

    ChatViewModel &m_vm;
    ChatSearch &m_search;
    ChatListModel *m_model;
    QLineEdit *m_searchField;
    QListView *m_list;
    QLabel *m_emptyLabel;
    QPointer<RenameChatDialog> m_renaming;
    QUuid m_shownChat;
    bool m_syncing = false;
};
