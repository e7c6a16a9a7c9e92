#pragma once

#include <QUuid>
#include <QWidget>

class ChatSearch;
class ChatViewModel;
class InputBar;
class MessageColumn;
class MessageRow;
class QScrollArea;
class ScrollFollower;

// The right-hand column of the chat window: the conversation in a scroll
// area (at most 820 wide, centred) and the input bar below it. It follows
// the end of the conversation while a reply streams in, stops as soon as
// the user scrolls back with the wheel, and resumes near the end; sending
// or opening another chat goes to the end, unless a search is active: then
// the chat opens at its first message that holds a word of the search, and
// every word found is marked.
class ConversationView : public QWidget
{
    Q_OBJECT
public:
    explicit ConversationView(ChatViewModel &vm, QWidget *parent = nullptr);

    // Marks what the search finds, from now on.
    void showMatchesOf(const ChatSearch &search);

    bool isStickingToBottom() const;
    QScrollArea *scrollArea() const { return m_scrollArea; }
    ScrollFollower *follower() const { return m_follower; }
    MessageColumn *column() const { return m_column; }
    InputBar *inputBar() const { return m_inputBar; }
    // The rows built so far, top to bottom, and the row of one message.
    QList<MessageRow *> rows() const;
    MessageRow *row(const QUuid &messageId) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QWidget *makeInputArea();
    void onChatChanged();
    void onReplyChanged();
    void scrollToEndIfSticking();
    void followSearchWords();
    void revealFirstMatch();

    ChatViewModel &m_vm;
    const ChatSearch *m_search = nullptr;
    QScrollArea *m_scrollArea;
    MessageColumn *m_column;
    ScrollFollower *m_follower;
    InputBar *m_inputBar = nullptr;

    QUuid m_chatId;
    qsizetype m_messageCount = 0;
    QString m_lastText;
};
