#include "core/conversation/ChatViewModel.h"

#include "core/conversation/ReplyWithFallback.h"

ChatViewModel::ChatViewModel(ChatStore &store, ModelRanker &ranker, OpenRouterClient &client, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_ranker(ranker)
    , m_client(client)
    , m_clock([] { return std::chrono::steady_clock::now().time_since_epoch(); })
{
    m_flushTimer.setSingleShot(true);
    // A coarse timer may fire early, which would flush more often than once
    // per interval.
    m_flushTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_flushTimer, &QTimer::timeout, this, &ChatViewModel::fireScheduledFlush);
    m_conversation.sync(m_chat, false);
    connect(&m_store, &ChatStore::saveFailuresChanged, this, [this] {
        const Batch batch(*this);
        syncSaveIssue();
    });
}

// A running reply is stopped while this controller is still whole; it
// delivers nothing more.
ChatViewModel::~ChatViewModel()
{
    cancelOperation(m_reply);
}

void ChatViewModel::setDraft(const QString &draft)
{
    const Batch batch(*this);
    setDraftSilently(draft);
}

void ChatViewModel::setClock(Clock clock)
{
    m_clock = std::move(clock);
}

void ChatViewModel::fireScheduledFlush()
{
    m_flushTimer.stop();
    if (m_currentMsgID)
        flush(*m_currentMsgID);
}

ChatMessage *ChatViewModel::message(const QUuid &id)
{
    // The reply being filled is normally the last message.
    for (qsizetype i = m_chat.messages.size() - 1; i >= 0; --i) {
        if (m_chat.messages.at(i).id == id)
            return &m_chat.messages[i];
    }
    return nullptr;
}

void ChatViewModel::setStreaming(bool on)
{
    if (m_isStreaming != on) {
        m_isStreaming = on;
        touch(streamingField);
    }
}

void ChatViewModel::setThinking(bool on)
{
    if (m_isThinking != on) {
        m_isThinking = on;
        touch(thinkingField);
    }
}

void ChatViewModel::setStatus(Status status)
{
    if (m_status != status) {
        m_status = status;
        touch(statusField);
    }
}

void ChatViewModel::setIssue(const std::optional<AppIssue> &issue)
{
    if (m_issue != issue) {
        m_issue = issue;
        touch(issueField);
    }
}

void ChatViewModel::clearIssue()
{
    const Batch batch(*this);
    setIssue(std::nullopt);
}

void ChatViewModel::setImageNotice(const std::optional<ImageNotice> &notice)
{
    if (m_imageNotice != notice) {
        m_imageNotice = notice;
        touch(imageNoticeField);
    }
}

void ChatViewModel::setAttachments(const QStringList &attachments)
{
    if (m_attachments != attachments) {
        m_attachments = attachments;
        touch(attachmentsField);
    }
}

void ChatViewModel::setDraftSilently(const QString &draft)
{
    if (m_draft != draft) {
        m_draft = draft;
        touch(draftField);
    }
}

void ChatViewModel::setCurrentModelName(const std::optional<QString> &name)
{
    if (m_currentModelName != name) {
        m_currentModelName = name;
        touch(modelNameField);
    }
}

void ChatViewModel::publish()
{
    // A slot may change state again (through an operation, which publishes
    // its own changes); each signal goes out once per change.
    const auto announce = [this](Field field, void (ChatViewModel::*signal)()) {
        if (m_dirty & field) {
            m_dirty &= ~unsigned(field);
            Q_EMIT(this->*signal)();
        }
    };
    while (m_dirty != 0) {
        if (m_dirty & (chatField | streamingField))
            m_conversation.sync(m_chat, m_isStreaming);
        announce(chatField, &ChatViewModel::chatChanged);
        announce(draftField, &ChatViewModel::draftChanged);
        announce(attachmentsField, &ChatViewModel::attachmentsChanged);
        announce(streamingField, &ChatViewModel::isStreamingChanged);
        announce(thinkingField, &ChatViewModel::isThinkingChanged);
        announce(statusField, &ChatViewModel::statusChanged);
        announce(issueField, &ChatViewModel::issueChanged);
        announce(imageNoticeField, &ChatViewModel::imageNoticeChanged);
        announce(focusField, &ChatViewModel::focusTokenChanged);
        announce(modelNameField, &ChatViewModel::currentModelNameChanged);
        announce(saveIssueField, &ChatViewModel::saveIssueChanged);
        announce(limitWaitField, &ChatViewModel::limitWaitChanged);
    }
}
