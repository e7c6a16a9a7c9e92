#include "core/conversation/ChatViewModel.h"

#include "core/conversation/HistoryWindow.h"
#include "core/conversation/ReplyWithFallback.h"
#include "core/conversation/SystemPrompt.h"

static const QString userRole = QStringLiteral("user");
static const QString assistantRole = QStringLiteral("assistant");

ChatViewModel::ChatViewModel(ChatStore &store, ModelRanker &ranker, OpenRouterClient &client, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_ranker(ranker)
    , m_client(client)
    , m_shownTitle(m_chat.title)
    , m_clock([] { return std::chrono::steady_clock::now().time_since_epoch(); })
{
    // The rows a view reads follow the chat before anyone hears of it: the
    // whole chat when it changed, only its last message on a flush.
    m_changes.setBeforeSignals([this](unsigned fields) {
        if (fields & ((1u << chatField) | (1u << streamingField)))
            m_conversation.sync(m_chat, m_isStreaming);
        else if (fields & (1u << replyField))
            m_conversation.syncLast(m_chat);
    });
    m_conversation.sync(m_chat, false);
    connect(&m_attachments, &Attachments::changed, this, [this] { m_changes.mark(attachmentsField); });
    connect(&m_store, &ChatStore::saveFailuresChanged, this, [this] {
        const auto batch = m_changes.batch();
        syncSaveIssue();
    });
}

// A running reply is stopped while this controller is still whole; it
// delivers nothing more.
ChatViewModel::~ChatViewModel()
{
    delete m_run.data();
}

void ChatViewModel::setClock(Clock clock)
{
    m_clock = std::move(clock);
}

const std::optional<QDeadlineTimer> &ChatViewModel::limitWait() const
{
    static const std::optional<QDeadlineTimer> none;
    return m_run ? m_run->limitWait() : none;
}

void ChatViewModel::setDraft(const QString &draft)
{
    const auto batch = m_changes.batch();
    m_changes.assign(m_draft, draftField, draft);
}

void ChatViewModel::chatEdited()
{
    m_changes.mark(chatField);
    m_changes.assign(m_shownTitle, titleField, m_chat.title);
    m_changes.assign(m_shownPin, pinField, m_chat.pinnedModel);
}

void ChatViewModel::followRun()
{
    m_changes.assign(m_shownThinking, thinkingField, isThinking());
    m_changes.assign(m_shownLimitWait, limitWaitField, limitWait());
}

void ChatViewModel::setIssue(const std::optional<AppIssue> &issue)
{
    m_changes.assign(m_issue, issueField, issue);
}

void ChatViewModel::clearIssue()
{
    const auto batch = m_changes.batch();
    setIssue(std::nullopt);
}

// ---- sending and the generation ------------------------------------------------

bool ChatViewModel::hasSomethingToSend() const
{
    return !m_draft.trimmed().isEmpty() || !m_attachments.isEmpty();
}

void ChatViewModel::send()
{
    if (m_isStreaming || !hasSomethingToSend())
        return;
    const QString text = m_draft.trimmed();
    const auto batch = m_changes.batch();
    if (!m_attachments.isEmpty()) {
        if (std::optional<ImageNotice> notice = checkImageSupport()) {
            m_changes.assign(m_imageNotice, imageNoticeField, notice);
            return;
        }
    }
    m_chat.messages.append(ChatMessage{ QUuid::createUuid(), userRole, text, m_attachments.urls(), {}, {} });
    if (m_chat.messages.size() == 1)
        m_chat.title = Chat::titleFrom(text);
    chatEdited();
    m_changes.assign(m_draft, draftField, QString());
    m_attachments.clear();
    m_changes.assign(m_imageNotice, imageNoticeField, std::nullopt);
    m_store.save(m_chat);
    startGeneration();
}

void ChatViewModel::regenerate()
{
    if (m_isStreaming || m_chat.messages.isEmpty())
        return;
    if (m_chat.messages.last().role != assistantRole)
        return;
    const auto batch = m_changes.batch();
    m_chat.messages.removeLast();
    chatEdited();
    setIssue(std::nullopt);
    startGeneration(); // the generation saves the chat when it ends
}

bool ChatViewModel::canContinue() const
{
    if (m_isStreaming || m_chat.messages.isEmpty())
        return false;
    const ChatMessage &last = m_chat.messages.last();
    return last.role == assistantRole && last.modelId && last.cut
        && (*last.cut == AnswerCut::length || *last.cut == AnswerCut::connection);
}

void ChatViewModel::startGeneration()
{
    const auto batch = m_changes.batch();
    // Whatever still runs is ended first, as the user's Stop would: its
    // reply is tidied and saved.
    if (m_isStreaming || m_run)
        stop();
    generate();
}

void ChatViewModel::retry()
{
    if (m_isStreaming)
        return;
    const auto batch = m_changes.batch();
    setIssue(std::nullopt);
    if (m_retryContinues && canContinue())
        continueAnswer();
    else
        startGeneration();
}

void ChatViewModel::generate()
{
    const std::optional<QString> key = keyProvider ? keyProvider() : std::nullopt;
    if (!key)
        return;
    ReplyWithFallback::Request request{ *key, m_chat.messages, [this] { return m_chat.pinnedModel; } };
    const ChatMessage reply{ QUuid::createUuid(), assistantRole, QString(), {}, {}, {} };
    m_chat.messages.append(reply);
    chatEdited();
    run(new ReplyWithFallback(m_client, m_ranker, std::move(request)), reply.id, ReplyRun::Base{});
}

void ChatViewModel::continueAnswer()
{
    if (!canContinue())
        return;
    const std::optional<QString> key = keyProvider ? keyProvider() : std::nullopt;
    if (!key)
        return;
    const auto batch = m_changes.batch();
    const ChatMessage &answer = m_chat.messages.last();
    const QString modelId = *answer.modelId;
    // A model that left the catalogue is still asked: the service says
    // whether it answers.
    const ORModel model = m_ranker.model(modelId).value_or(
        ORModel{ modelId, ReplyWithFallback::displayName(std::nullopt, modelId), 0, false });
    ReplyWithFallback::Request request{ *key, m_chat.messages, [this] { return m_chat.pinnedModel; }, model };
    const ReplyRun::Base base{ answer.text, answer.reasoning, answer.reasoningSeconds, true };
    run(new ReplyWithFallback(m_client, m_ranker, std::move(request)), answer.id, base);
}

void ChatViewModel::run(ReplyWithFallback *job, const QUuid &messageId, const ReplyRun::Base &base)
{
    const auto batch = m_changes.batch();
    setIssue(std::nullopt);
    m_changes.assign(m_isStreaming, streamingField, true);
    m_changes.assign(m_status, statusField, ready);
    m_retryContinues = base.continuing;
    auto *reply = new ReplyRun(job, m_chat, messageId, base, m_clock, this);
    m_run = reply;
    connect(reply, &ReplyRun::messageChanged, this, [this] { m_changes.mark(replyField); });
    connect(reply, &ReplyRun::thinkingChanged, this, &ChatViewModel::followRun);
    connect(reply, &ReplyRun::limitWaitChanged, this, &ChatViewModel::followRun);
    connect(reply, &ReplyRun::switched, this, [this] { m_changes.assign(m_status, statusField, switching); });
    connect(reply, &ReplyRun::finished, this, &ChatViewModel::replyFinished);
    followRun();
    reply->start();
}

void ChatViewModel::replyFinished(const ReplyOutcome &outcome)
{
    if (!m_run)
        return;
    const auto batch = m_changes.batch();
    const QUuid id = m_run->messageId();
    const bool continuing = m_run->isContinuation();
    endRun();
    switch (outcome.kind) {
    case ReplyOutcome::answered:
        chatEdited();
        if (!continuing)
            m_changes.assign(m_currentModelName, modelNameField, std::optional(outcome.answeredBy));
        m_changes.assign(m_status, statusField, ready);
        m_store.save(m_chat);
        return;
    case ReplyOutcome::failed:
        if (!continuing)
            removeMessage(id);
        chatEdited();
        m_changes.assign(m_status, statusField, failing);
        setIssue(outcome.issue);
        m_store.save(m_chat);
        return;
    case ReplyOutcome::keyRejected:
        if (!continuing)
            removeMessage(id);
        chatEdited();
        m_store.save(m_chat);
        if (onUnauthorized)
            onUnauthorized();
        return;
    }
}

// The run has ended or was stopped; it is let go later, as this may run
// inside one of its signals.
void ChatViewModel::endRun()
{
    if (ReplyRun *reply = m_run) {
        m_run = nullptr;
        reply->disconnect(this);
        reply->deleteLater();
    }
    m_changes.assign(m_isStreaming, streamingField, false);
    followRun();
}

void ChatViewModel::stop()
{
    if (!m_isStreaming && !m_run)
        return;
    const auto batch = m_changes.batch();
    if (m_run) {
        const QUuid id = m_run->messageId();
        m_run->stop();
        // An answer stopped before any text leaves no empty message;
        // reasoning alone is no answer.
        const auto found = std::find_if(m_chat.messages.cbegin(), m_chat.messages.cend(),
            [&id](const ChatMessage &message) { return message.id == id; });
        if (found != m_chat.messages.cend() && found->text.isEmpty())
            removeMessage(id);
    }
    endRun();
    chatEdited();
    m_store.save(m_chat);
}

QList<APIMessage> ChatViewModel::apiMessages(const ORModel &model, const QUuid &excluding) const
{
    return HistoryWindow::select(m_chat.messages, model, SystemPrompt::read(), excluding);
}

void ChatViewModel::removeMessage(const QUuid &id)
{
    const auto batch = m_changes.batch();
    if (m_chat.messages.removeIf([&id](const ChatMessage &message) { return message.id == id; }) > 0)
        chatEdited();
}

// ---- the open chat ------------------------------------------------------------

void ChatViewModel::resetOpenChat(const Chat &chat)
{
    m_chat = chat;
    chatEdited();
    m_changes.assign(m_draft, draftField, QString());
    m_attachments.clear();
    setIssue(std::nullopt);
    m_changes.assign(m_imageNotice, imageNoticeField, std::nullopt);
    m_changes.assign(m_status, statusField, ready);
    syncSaveIssue();
}

void ChatViewModel::newChat()
{
    const auto batch = m_changes.batch();
    stop();
    resetOpenChat(Chat());
    requestFocus();
}

void ChatViewModel::reset()
{
    const auto batch = m_changes.batch();
    stop();
    resetOpenChat(Chat());
    m_changes.assign(m_currentModelName, modelNameField, std::nullopt);
}

void ChatViewModel::requestFocus()
{
    const auto batch = m_changes.batch();
    ++m_focusToken;
    m_changes.mark(focusField);
}

void ChatViewModel::select(const QUuid &id)
{
    if (m_chat.id == id)
        return;
    const auto batch = m_changes.batch();
    stop();
    // The store knows the newest saved version, even one still waiting to be
    // written.
    const std::optional<Chat> loaded = m_store.load(id);
    if (!loaded)
        return;
    resetOpenChat(*loaded);
    requestFocus();
}

void ChatViewModel::rename(const QUuid &id, const QString &title)
{
    const QString trimmed = title.trimmed();
    if (trimmed.isEmpty())
        return;
    const auto batch = m_changes.batch();
    if (id == m_chat.id) {
        m_chat.title = trimmed;
        chatEdited();
        m_store.save(m_chat);
        return;
    }
    std::optional<Chat> stored = m_store.load(id);
    if (!stored)
        return;
    stored->title = trimmed;
    m_store.save(*stored);
}

void ChatViewModel::deleteChat(const QUuid &id)
{
    // A new chat first: stopping a reply in the open chat saves it, which
    // would otherwise bring the deleted chat back.
    if (id == m_chat.id)
        newChat();
    m_store.remove(id);
}

void ChatViewModel::pin(const std::optional<QString> &modelId)
{
    const auto batch = m_changes.batch();
    m_chat.pinnedModel = modelId;
    chatEdited();
    m_changes.assign(m_imageNotice, imageNoticeField, std::nullopt);
    m_store.save(m_chat);
}

void ChatViewModel::syncSaveIssue()
{
    std::optional<AppIssue> issue;
    if (const std::optional<QString> reason = m_store.saveFailure(m_chat.id))
        issue = AppIssue{ QStringLiteral("Couldn't save this chat."), *reason };
    m_changes.assign(m_saveIssue, saveIssueField, issue);
}

void ChatViewModel::retrySave()
{
    m_store.retryFailedSaves();
}

// ---- images ------------------------------------------------------------------

void ChatViewModel::attach(const QImage &image)
{
    const auto batch = m_changes.batch();
    if (m_attachments.add(image))
        m_changes.assign(m_imageNotice, imageNoticeField, checkImageSupport());
}

void ChatViewModel::removeAttachment(int index)
{
    const auto batch = m_changes.batch();
    if (m_attachments.removeAt(index) && m_attachments.isEmpty())
        m_changes.assign(m_imageNotice, imageNoticeField, std::nullopt);
}

void ChatViewModel::switchToVisionModel()
{
    const auto batch = m_changes.batch();
    if (m_imageNotice && m_imageNotice->switchTo)
        pin(m_imageNotice->switchTo->id);
    m_changes.assign(m_imageNotice, imageNoticeField, std::nullopt);
}

std::optional<ImageNotice> ChatViewModel::checkImageSupport() const
{
    // Without a pin the ranker picks a model that sees images by itself.
    if (!m_chat.pinnedModel)
        return std::nullopt;
    const std::optional<ORModel> pinned = m_ranker.model(*m_chat.pinnedModel);
    if (!pinned || pinned->supportsImages)
        return std::nullopt;
    return ImageNotice{ ImageNotice::text, m_ranker.firstVisionModel() };
}
