#pragma once

#include "core/conversation/ConversationModel.h"
#include "core/conversation/ImageNotice.h"
#include "core/ranker/ModelRanker.h"
#include "core/records/ChatRecords.h"
#include "core/service/OpenRouterClient.h"
#include "core/store/ChatStore.h"
#include "core/util/ChangeBatch.h"

#include <QDeadlineTimer>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QUuid>
#include <chrono>
#include <functional>
#include <optional>

class ReplyWithFallback;
struct ReplyOutcome;

// The controller behind the chat window: the open chat, the text being typed,
// the images waiting to be sent, and the one generation that may be running.
// A generation appends an empty reply and has a ReplyWithFallback write it:
// that job picks the models and moves on when one fails; this controller
// keeps the chat in step with what the job reports, batching its text into
// the reply. Main thread only.
//
// Published state changes are announced once the operation that made them is
// complete, so a view that reacts to a signal always sees a consistent state.
class ChatViewModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(Chat chat READ chat NOTIFY chatChanged)
    Q_PROPERTY(QString draft READ draft WRITE setDraft NOTIFY draftChanged)
    Q_PROPERTY(QStringList attachments READ attachments NOTIFY attachmentsChanged)
    Q_PROPERTY(bool isStreaming READ isStreaming NOTIFY isStreamingChanged)
    Q_PROPERTY(bool isThinking READ isThinking NOTIFY isThinkingChanged)
    Q_PROPERTY(Status status READ status NOTIFY statusChanged)
    Q_PROPERTY(std::optional<AppIssue> issue READ issue NOTIFY issueChanged)
    Q_PROPERTY(std::optional<ImageNotice> imageNotice READ imageNotice NOTIFY imageNoticeChanged)
    Q_PROPERTY(int focusToken READ focusToken NOTIFY focusTokenChanged)
    Q_PROPERTY(std::optional<QString> currentModelName READ currentModelName NOTIFY currentModelNameChanged)
    Q_PROPERTY(std::optional<AppIssue> saveIssue READ saveIssue NOTIFY saveIssueChanged)

public:
    enum Status {
        ready, // normal; also after an answer
        switching, // the first model failed and a later one is being tried
        failing, // the last generation ended without an answer (see issue)
    };
    Q_ENUM(Status)

    using KeyProvider = std::function<std::optional<QString>()>;
    // A monotonic clock; only differences between its readings matter.
    using Clock = std::function<std::chrono::nanoseconds()>;

    static constexpr std::chrono::milliseconds flushInterval{ 40 };
    static constexpr int maxAttachments = 4;

    ChatViewModel(ChatStore &store, ModelRanker &ranker,
        OpenRouterClient &client = OpenRouterClient::shared(), QObject *parent = nullptr);
    ~ChatViewModel() override;

    // Yields the API key, read at the start of every generation; none means
    // no generation runs. Assigned by the owner.
    KeyProvider keyProvider = [] { return std::optional<QString>(); };
    // Called when the service rejects the key. Assigned by the owner.
    std::function<void()> onUnauthorized = [] {};

    const Chat &chat() const { return m_chat; }
    // The open chat's messages as rows for a view; it changes before
    // chatChanged is announced.
    ConversationModel &conversation() { return m_conversation; }
    const QString &draft() const { return m_draft; }
    void setDraft(const QString &draft);
    const QStringList &attachments() const { return m_attachments; }
    bool isStreaming() const { return m_isStreaming; }
    bool isThinking() const { return m_isThinking; }
    Status status() const { return m_status; }
    const std::optional<AppIssue> &issue() const { return m_issue; }
    const std::optional<ImageNotice> &imageNotice() const { return m_imageNotice; }
    int focusToken() const { return m_focusToken; }
    const std::optional<QString> &currentModelName() const { return m_currentModelName; }
    // While the reply waits for the account's per-minute limit to pass
    // before it asks again: when that wait ends. The waiting row counts down
    // to it.
    const std::optional<QDeadlineTimer> &limitWait() const { return m_limitWait; }
    // The open chat's last save did not land (and has not since); apart
    // from the generation's issue, with a retry of its own.
    const std::optional<AppIssue> &saveIssue() const { return m_saveIssue; }

    // Whether send() has anything to send: text other than white space, or
    // an attachment.
    bool hasSomethingToSend() const;
    // Sends the draft and the attachments as a user message and starts a
    // generation. Does nothing while a reply streams or when there is nothing
    // to send; with images the pinned model cannot see, only sets imageNotice.
    void send();
    // Removes the last answer and generates a new one.
    void regenerate();
    // The last message is an answer cut by the model's length limit or by a
    // connection that closed early, and no reply runs.
    bool canContinue() const;
    // Asks the model that gave the last answer, alone, for the rest of it;
    // what comes is appended to the answer as it streams, and its mark says
    // how the answer now ends. When that fails the answer stays as it was,
    // and issue says why. Does nothing unless canContinue().
    void continueAnswer();
    // Stops the running generation, keeping the text that has arrived, what
    // still waits for the next flush included (an empty reply is removed).
    // Saves the chat.
    void stop();
    // Replaces the running generation, if any, by a new one.
    void startGeneration();
    // The issue's "Try again": forgets the issue and generates anew; does
    // nothing while a reply streams.
    void retry();
    // Forgets the problem of the last generation.
    void clearIssue();
    // Writes the chats whose saves failed again; the answer is left alone.
    void retrySave();

    // The history to send to model, oldest first, leaving out `excluding`.
    QList<APIMessage> apiMessages(const ORModel &model, const QUuid &excluding) const;
    // The notice to show when the chat is pinned to a known model that cannot
    // see images; nothing otherwise.
    std::optional<ImageNotice> checkImageSupport() const;
    // Removes every message with that id.
    void removeMessage(const QUuid &id);

    // One piece of the running reply's text; nothing when no reply runs.
    // Pieces collect in a buffer that is copied into the reply at most once
    // per flushInterval; a piece held back is flushed when the interval
    // ends, even when no further piece comes.
    void receive(const QString &piece);
    // Copies the buffer into message id.
    void flush(const QUuid &id);

    // Opens a fresh chat (stopping any generation) and asks for focus.
    void newChat();
    // Like newChat() without focus, and forgets who answered last (sign-out).
    void reset();
    // Asks the input field to take keyboard focus (focusToken + 1).
    void requestFocus();
    // Opens the stored chat id; nothing happens when it is already open, and
    // the open chat stays when the stored one cannot be read.
    void select(const QUuid &id);
    // Renames the open chat or a stored one; an empty title does nothing.
    void rename(const QUuid &id, const QString &title);
    // Deletes a stored chat. The open chat is first replaced by a new one,
    // which stops its reply and saves it, so that the deletion comes last
    // and the chat stays deleted.
    void deleteChat(const QUuid &id);
    // Pins the open chat to a model; none means automatic choice.
    void pin(const std::optional<QString> &modelId);

    // Adds an image as an attachment (at most four; a failed conversion is
    // dropped silently).
    void attach(const QImage &image);
    void removeAttachment(int index);
    // Pins the chat to the model that the image notice offers.
    void switchToVisionModel();

    // Test seams; the product keeps the defaults.
    void setClock(Clock clock);
    bool isFlushScheduled() const { return m_flushTimer.isActive(); }
    // Does what the flush timer does when it fires.
    void fireScheduledFlush();

Q_SIGNALS:
    void chatChanged();
    void draftChanged();
    void attachmentsChanged();
    void isStreamingChanged();
    void isThinkingChanged();
    void statusChanged();
    void issueChanged();
    void imageNoticeChanged();
    void focusTokenChanged();
    void currentModelNameChanged();
    void saveIssueChanged();
    void limitWaitChanged();

private:
    friend class ChangeBatch<ChatViewModel>;
    using Batch = ChangeBatch<ChatViewModel>;

    enum Field : unsigned {
        chatField = 1u << 0,
        draftField = 1u << 1,
        attachmentsField = 1u << 2,
        streamingField = 1u << 3,
        thinkingField = 1u << 4,
        statusField = 1u << 5,
        issueField = 1u << 6,
        imageNoticeField = 1u << 7,
        focusField = 1u << 8,
        modelNameField = 1u << 9,
        saveIssueField = 1u << 10,
        limitWaitField = 1u << 11,
    };

    // What the reply being filled held before the running job began: nothing
    // for a new answer, the cut answer for a continuation. What a failed
    // attempt wrote is undone back to it.
    struct ReplyBase {
        QString text;
        std::optional<QString> reasoning;
        std::optional<double> reasoningSeconds;
        bool continuing = false;
    };

    // Generation steps.
    void generate();
    void run(ReplyWithFallback *job, const QUuid &messageId, const ReplyBase &base);
    void receiveReasoning(const QString &piece);
    void bufferArrived();
    void replySwitched();
    void replyWaiting(const QDeadlineTimer &until);
    void replyRetrying();
    void replyFinished(const ReplyOutcome &outcome);
    void endGeneration();
    void discardBufferedText(const QUuid &id);
    void setLimitWait(const std::optional<QDeadlineTimer> &until);

    ChatMessage *message(const QUuid &id);
    void resetOpenChat(const Chat &chat);

    // Silent setters; the change is announced when the outermost operation
    // ends (publish()).
    void touch(Field field) { m_dirty |= field; }
    void setStreaming(bool on);
    void setThinking(bool on);
    void setStatus(Status status);
    void setIssue(const std::optional<AppIssue> &issue);
    void setImageNotice(const std::optional<ImageNotice> &notice);
    void setAttachments(const QStringList &attachments);
    void setDraftSilently(const QString &draft);
    void setCurrentModelName(const std::optional<QString> &name);
    // Follows the store's record of failed saves for the open chat.
    void syncSaveIssue();
    void publish();

    ChatStore &m_store;
    ModelRanker &m_ranker;
    OpenRouterClient &m_client;

    Chat m_chat;
    QString m_draft;
    QStringList m_attachments;
    bool m_isStreaming = false;
    bool m_isThinking = false;
    Status m_status = ready;
    std::optional<AppIssue> m_issue;
    std::optional<ImageNotice> m_imageNotice;
    int m_focusToken = 0;
    std::optional<QString> m_currentModelName;
    std::optional<AppIssue> m_saveIssue;
    std::optional<QDeadlineTimer> m_limitWait;

    QPointer<ReplyWithFallback> m_reply; // the running one
    std::optional<QUuid> m_currentMsgID;
    ReplyBase m_replyBase;
    // The issue's "Try again" continues the answer rather than asking anew.
    bool m_retryContinues = false;
    QString m_buffer;
    QString m_reasoningBuffer;
    // When the reply's first reasoning arrived, and how long the model
    // reasoned once its first text came (written with the next flush).
    std::optional<std::chrono::nanoseconds> m_firstReasoningAt;
    std::optional<double> m_pendingReasoningSeconds;
    std::optional<std::chrono::nanoseconds> m_lastFlush; // none: the distant past
    QTimer m_flushTimer;
    ConversationModel m_conversation;
    Clock m_clock;

    unsigned m_dirty = 0;
    int m_batchDepth = 0;
};
