#pragma once

#include "core/records/ChatRecords.h"

#include <QWidget>

class AnswerView;
class MessageBubble;
class QHBoxLayout;
class QToolButton;
class QVBoxLayout;
class ReasoningSection;
class WrappingLabel;

// One message of the conversation. A user message sits at the right: its
// images as thumbnails, then its text in a bubble (no bubble without
// text). An answer uses the full width: the model's reasoning when it gave
// any, its Markdown, then a line in the secondary colour with who answered
// (and why the answer ends early, when it was cut), Copy, and on the last
// answer while no reply runs Regenerate, and Continue when the answer can
// be continued.
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
    // Continue shows where Regenerate does, when this is also true.
    void setCanContinue(bool canContinue);
    // The person's open or fold choice for the reasoning, kept by the list
    // while the row is away.
    std::optional<bool> reasoningChoice() const;
    void setReasoningChoice(std::optional<bool> open);
    // Marks the words a search found in the text (folded); none when empty.
    void setMarkedWords(const QStringList &foldedWords);
    bool isCopied() const { return m_copied; }
    // Puts the message's text, as written, on the clipboard.
    void copyText();

    // Test seams.
    int renderCount() const { return m_renderCount; }
    void setCopiedInterval(int milliseconds) { m_copiedMs = milliseconds; }
    // "answered by …", then why the answer ends early; empty when nobody
    // answered and the answer is whole.
    QString answerLabel() const;
    QToolButton *copyButton() const { return m_copyButton; }
    QToolButton *regenerateButton() const { return m_regenerateButton; }
    QToolButton *continueButton() const { return m_continueButton; }
    ReasoningSection *reasoningSection() const { return m_reasoning; }
    MessageBubble *bubble() const { return m_bubble; }
    AnswerView *answerView() const { return m_answer; }
    QList<QWidget *> images() const;

Q_SIGNALS:
    void regenerateRequested();
    void continueRequested();
    void copiedChanged();

private:
    void buildUser();
    void buildAnswer();
    QWidget *makeFooter();
    void render();
    void renderUser();
    void renderAnswer();
    void updateFooter();
    void setCopied(bool copied);
    void tintFooterIcons();

    ChatMessage m_message;
    bool m_isUser;
    bool m_isLast = false;
    bool m_canRegenerate = false;
    bool m_canContinue = false;
    bool m_copied = false;
    int m_copiedMs = 1500;
    int m_renderCount = 0;

    // User rows.
    QWidget *m_imageStrip = nullptr;
    QHBoxLayout *m_imageLayout = nullptr;
    QStringList m_shownImages;
    MessageBubble *m_bubble = nullptr;
    // Answer rows.
    QVBoxLayout *m_answerStack = nullptr;
    ReasoningSection *m_reasoning = nullptr; // made when the first reasoning comes
    AnswerView *m_answer = nullptr;
    QWidget *m_footer = nullptr;
    WrappingLabel *m_answeredBy = nullptr;
    QToolButton *m_copyButton = nullptr;
    QToolButton *m_regenerateButton = nullptr;
    QToolButton *m_continueButton = nullptr;
};
