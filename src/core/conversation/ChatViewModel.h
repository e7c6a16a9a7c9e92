#pragma once

#include "core/conversation/Attachments.h"
#include "core/conversation/ConversationModel.h"
#include "core/conversation/ImageNotice.h"
#include "core/conversation/ReplyRun.h"
#include "core/ranker/ModelRanker.h"
#include "core/records/ChatRecords.h"
#include "core/service/OpenRouterClient.h"
#include "core/store/ChatStore.h"
#include "core/util/ChangeSignals.h"

#include <QDeadlineTimer>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUuid>
#include <chrono>
#include <functional>
#include <optional>

// The controller behind the chat window: the open chat and what is done to
// it, the text being typed, the images waiting to be sent (Attachments), and
// the one reply that may be running (ReplyRun, which streams a
// ReplyWithFallback into one message). Main thread only.
//
// Published state changes are announced once the operation that made them is
// complete, so a view that reacts to a signal always sees a consistent state.
// A flush of streamed text announces only replyChanged: nothing that does
// not show the streaming message hears of it.
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
    using Clock = ReplyRun::Clock;

    static constexpr std::chrono::milliseconds flushInterval = ReplyRun::flushInterval;
    static constexpr int maxAttachments = Attachments::maxCount;

    ChatViewModel(ChatStore &store, ModelRanker &ranker,
        OpenRouterClient &client = OpenRouterClient::shared(), QObject *parent = nullptr);
    ~ChatViewModel() override;

    // Yields the API key, read at the start of every generation; none means
    // no generation runs. Assigned by the owner.
    KeyProvider keyProvider = [] { return std::optional<QString>(); };
    // Called when the service rejects the key. Assigned by the owner.
    std::function<void()> onUnauthorized = [] {};

    const Chat &chat() const { return m_chat; }
    // The open chat's messages as rows for a view; it changes before the
    // signals that announce it.
    ConversationModel &conversation() { return m_conversation; }
    const QString &draft() const { return m_draft; }
    void setDraft(const QString &draft);
    const QStringList &attachments() const { return m_attachments.urls(); }
    bool isStreaming() const { return m_isStreaming; }
    bool isThinking() const { return m_run && m_run->isThinking(); }
    Status status() const { return m_status; }
    const std::optional<AppIssue> &issue() const { return m_issue; }
    const std::optional<ImageNotice> &imageNotice() const { return m_imageNotice; }
    int focusToken() const { return m_focusToken; }
    const std::optional<QString> &currentModelName() const { return m_currentModelName; }
    // The open chat's last save did not land (and has not since); apart
    // from the generation's issue, with a retry of its own.
    const std::optional<AppIssue> &saveIssue() const { return m_saveIssue; }
    // While the reply waits for the account's per-minute limit to pass
    // before it asks again: when that wait ends. The waiting row counts down
    // to it.
    const std::optional<QDeadlineTimer> &limitWait() const;

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
    // The issue's "Try again": forgets the issue and generates anew (or
    // continues again, when continuing failed); does nothing while a reply
    // streams.
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
    // The running reply, if any.
    ReplyRun *replyRun() const { return m_run; }

Q_SIGNALS:
    // The chat property changed: another chat, or messages added, removed
    // or signed. Not for a flush of streamed text (replyChanged).
    void chatChanged();
    // Narrower: the open chat's title, its pinned model, and the text or
    // reasoning of the message a reply streams into.
    void titleChanged();
    void pinnedModelChanged();
    void replyChanged();
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
    // The published fields, numbered by their signal's place in m_changes.
    enum Field : int {
        chatField,
        titleField,
        pinField,
        replyField,
        draftField,
        attachmentsField,
        streamingField,
        thinkingField,
        statusField,
        issueField,
        imageNoticeField,
        focusField,
        modelNameField,
        saveIssueField,
        limitWaitField,
    };

    // The chat changed in any way but a flush; title and pin are compared
    // with what they were.
    void chatEdited();
    // The waiting row's state follows the run's.
    void followRun();
    void generate();
    void run(ReplyWithFallback *job, const QUuid &messageId, const ReplyRun::Base &base);
    void replyFinished(const ReplyOutcome &outcome);
    void endRun();
    void resetOpenChat(const Chat &chat);
    // Follows the store's record of failed saves for the open chat.
    void syncSaveIssue();
    void setIssue(const std::optional<AppIssue> &issue);

    ChatStore &m_store;
    ModelRanker &m_ranker;
    OpenRouterClient &m_client;

    Chat m_chat;
    QString m_shownTitle; // as last announced
    std::optional<QString> m_shownPin;
    QString m_draft;
    Attachments m_attachments;
    bool m_isStreaming = false;
    Status m_status = ready;
    std::optional<AppIssue> m_issue;
    std::optional<ImageNotice> m_imageNotice;
    int m_focusToken = 0;
    std::optional<QString> m_currentModelName;
    std::optional<AppIssue> m_saveIssue;

    QPointer<ReplyRun> m_run; // the running reply
    bool m_shownThinking = false; // as last announced
    std::optional<QDeadlineTimer> m_shownLimitWait;
    // The issue's "Try again" continues the answer rather than asking anew.
    bool m_retryContinues = false;
    ConversationModel m_conversation;
    Clock m_clock;

    ChangeSignals<ChatViewModel> m_changes{ *this,
        { &ChatViewModel::chatChanged, &ChatViewModel::titleChanged, &ChatViewModel::pinnedModelChanged,
            &ChatViewModel::replyChanged, &ChatViewModel::draftChanged, &ChatViewModel::attachmentsChanged,
            &ChatViewModel::isStreamingChanged, &ChatViewModel::isThinkingChanged,
            &ChatViewModel::statusChanged, &ChatViewModel::issueChanged, &ChatViewModel::imageNoticeChanged,
            &ChatViewModel::focusTokenChanged, &ChatViewModel::currentModelNameChanged,
            &ChatViewModel::saveIssueChanged, &ChatViewModel::limitWaitChanged } };
};
