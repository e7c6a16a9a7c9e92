#pragma once

#include "core/records/ChatRecords.h"

#include <QWidget>

class AnswerView;
class MessageBubble;
class QHBoxLayout;
class QToolButton;
class WrappingLabel;

// One message of the conversation. A user message sits at the right: its
// images as thumbnails, then its text in a bubble (no bubble without
// text). An answer uses the full width: its Markdown, then a line in the
// secondary colour with who answered, Copy, and Regenerate on the last
// answer while no reply runs.
class MessageRow : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool copied READ isCopied NOTIFY copiedChanged)
public:
    explicit MessageRow(const ChatMessage &message, QWidget *parent = nullptr);

    const ChatMessage &message() const { return m_message; }
    bool isUser() const { return m_isUser; }
    // Shows another version of the same message; does nothing when it
    // equals the one shown.
    void setMessage(const ChatMessage &message);
    void setIsLast(bool isLast);
    void setCanRegenerate(bool canRegenerate);
    // Marks the words a search found in the text (folded); none when empty.
    void setMarkedWords(const QStringList &foldedWords);
    bool isCopied() const { return m_copied; }
    // Puts the message's text, as written, on the clipboard.
    void copyText();

    // Test seams.
    int renderCount() const { return m_renderCount; }
    void setCopiedInterval(int milliseconds) { m_copiedMs = milliseconds; }
    QString answerLabel() const; // "answered by …", empty when nobody answered
    QToolButton *copyButton() const { return m_copyButton; }
    QToolButton *regenerateButton() const { return m_regenerateButton; }
    MessageBubble *bubble() const { return m_bubble; }
    AnswerView *answerView() const { return m_answer; }
    QList<QWidget *> images() const;

Q_SIGNALS:
    void regenerateRequested();
    void copiedChanged();

private:
    void buildUser();
    void buildAnswer();
    QWidget *makeFooter();
    void render();
    void renderUser();
    void renderAnswer();
    void updateRegenerate();
    void setCopied(bool copied);
    void tintFooterIcons();

    ChatMessage m_message;
    bool m_isUser;
    bool m_isLast = false;
    bool m_canRegenerate = false;
    bool m_copied = false;
    int m_copiedMs = 1500;
    int m_renderCount = 0;

    // User rows.
    QWidget *m_imageStrip = nullptr;
    QHBoxLayout *m_imageLayout = nullptr;
    QStringList m_shownImages;
    MessageBubble *m_bubble = nullptr;
    // Answer rows.
    AnswerView *m_answer = nullptr;
    WrappingLabel *m_answeredBy = nullptr;
    QToolButton *m_copyButton = nullptr;
    QToolButton *m_regenerateButton = nullptr;
};
