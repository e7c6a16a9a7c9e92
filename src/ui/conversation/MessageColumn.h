#pragma once

#include <QPointer>
#include <QWidget>

class ChatViewModel;
class IssueView;
class MessageList;
class MessageRow;
class QVBoxLayout;
class ThinkingIndicator;

// The content of the conversation's scroll area, top to bottom: the empty
// state (no visible message and no reply running), the rows of the open
// chat, the thinking indicator (counting down the wait for the per-minute
// limit, when there is one), the issue of the last reply with its "Try
// again", and, when the chat could not be saved, that problem with a "Try
// again" that saves again. It follows the controller's published state.
class MessageColumn : public QWidget
{
    Q_OBJECT
public:
    explicit MessageColumn(ChatViewModel &vm, QWidget *parent = nullptr);

    MessageList *list() const { return m_list; }
    QWidget *emptyState() const { return m_emptyState; }
    ThinkingIndicator *thinking() const { return m_thinking; }
    IssueView *issueView() const { return m_issueView; }
    IssueView *saveIssueView() const { return m_saveIssueView; }

    // Shows the empty state or the rows, as the conversation has rows or not.
    void syncMessages();
    void syncThinking();
    void syncIssue();
    void syncSaveIssue();

private:
    void takeAway(IssueView *&box);

    ChatViewModel &m_vm;
    QVBoxLayout *m_layout;
    QWidget *m_emptyState;
    MessageList *m_list;
    ThinkingIndicator *m_thinking;
    IssueView *m_issueView = nullptr;
    IssueView *m_saveIssueView = nullptr;
};
