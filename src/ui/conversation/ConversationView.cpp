#include "ui/conversation/ConversationView.h"

#include "core/conversation/ChatViewModel.h"
#include "core/search/ChatSearch.h"
#include "ui/conversation/CenteredColumnLayout.h"
#include "ui/conversation/MessageColumn.h"
#include "ui/conversation/MessageList.h"
#include "ui/conversation/MessageRow.h"
#include "ui/conversation/ScrollFollower.h"
#include "ui/input/InputBar.h"

#include <QCoreApplication>
#include <QEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int columnMaxWidth = 820;

QString lastText(const Chat &chat)
{
    return chat.messages.isEmpty() ? QString() : chat.messages.last().text;
}

} // namespace

ConversationView::ConversationView(ChatViewModel &vm, QWidget *parent)
    : QWidget(parent)
    , m_vm(vm)
    , m_scrollArea(new QScrollArea(this))
    , m_column(new MessageColumn(vm))
    , m_follower(new ScrollFollower(m_scrollArea, this))
{
    auto *host = new QWidget;
    auto *centred = new CenteredColumnLayout(columnMaxWidth, host);
    centred->addWidget(m_column);
    m_scrollArea->setWidget(host);
    m_column->installEventFilter(this);
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->setAccessibleName(QStringLiteral("Conversation"));

    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    stack->addWidget(m_scrollArea, 1);
    stack->addWidget(makeInputArea());

    m_chatId = vm.chat().id;
    m_messageCount = vm.chat().messages.size();
    m_lastText = lastText(vm.chat());
    m_column->list()->setScrollArea(m_scrollArea);

    connect(&vm, &ChatViewModel::chatChanged, this, &ConversationView::onChatChanged);
    connect(&vm, &ChatViewModel::replyChanged, this, &ConversationView::onReplyChanged);
    connect(&vm, &ChatViewModel::isStreamingChanged, m_column, &MessageColumn::syncMessages);
    connect(&vm, &ChatViewModel::isThinkingChanged, this, [this] {
        m_column->syncThinking();
        scrollToEndIfSticking();
    });
    connect(&vm, &ChatViewModel::issueChanged, this, [this] {
        m_column->syncIssue();
        scrollToEndIfSticking();
    });
}

QWidget *ConversationView::makeInputArea()
{
    auto *area = new QWidget(this);
    auto *centred = new CenteredColumnLayout(columnMaxWidth, area);
    centred->setContentsMargins(20, 6, 20, 16);
    m_inputBar = new InputBar(m_vm, area);
    centred->addWidget(m_inputBar);
    return area;
}

void ConversationView::showMatchesOf(const ChatSearch &search)
{
    m_search = &search;
    connect(&search, &ChatSearch::wordsChanged, this, &ConversationView::followSearchWords);
    followSearchWords();
}

void ConversationView::followSearchWords()
{
    m_column->list()->setMarkedWords(m_search->words());
}

void ConversationView::revealFirstMatch()
{
    const Chat &chat = m_vm.chat();
    const int first = m_search ? m_search->firstMatchIn(chat) : -1;
    if (first < 0) {
        m_follower->setSticking(true);
        scrollToEndIfSticking();
        return;
    }
    m_follower->setSticking(false);
    m_column->list()->reveal(chat.messages[first].id);
}

bool ConversationView::isStickingToBottom() const
{
    return m_follower->isSticking();
}

QList<MessageRow *> ConversationView::rows() const
{
    return m_column->list()->rows();
}

MessageRow *ConversationView::row(const QUuid &messageId) const
{
    return m_column->list()->row(messageId);
}

bool ConversationView::eventFilter(QObject *watched, QEvent *event)
{
    // The scroll area takes a taller conversation on its own but not a
    // shorter one (the empty state going away, a reply removed): told after
    // the conversation's own layout, it fits the conversation again rather
    // than leaving a blank stretch at the end.
    if (watched == m_column && event->type() == QEvent::LayoutRequest) {
        QCoreApplication::postEvent(m_scrollArea, new QEvent(QEvent::LayoutRequest), Qt::LowEventPriority);
    }
    return QWidget::eventFilter(watched, event);
}

void ConversationView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_follower->installMonitor();
}

void ConversationView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_follower->removeMonitor();
}

// The rows follow the chat's model on their own; the view follows the end
// and the empty state.
void ConversationView::onChatChanged()
{
    const Chat &chat = m_vm.chat();
    const bool otherChat = chat.id != m_chatId;
    const bool countChanged = chat.messages.size() != m_messageCount;
    const QString text = lastText(chat);
    const bool textChanged = text != m_lastText;
    m_chatId = chat.id;
    m_messageCount = chat.messages.size();
    m_lastText = text;

    m_column->syncMessages();

    if (countChanged) {
        m_follower->setSticking(true);
        m_follower->scrollToEnd();
    } else if (textChanged) {
        scrollToEndIfSticking();
    }
    if (otherChat) {
        m_follower->setSticking(true);
        // The new chat's rows are laid out first.
        QTimer::singleShot(0, this, &ConversationView::revealFirstMatch);
    }
}

// A flush of streamed text: the reply's row has changed already.
void ConversationView::onReplyChanged()
{
    m_lastText = lastText(m_vm.chat());
    m_column->syncMessages();
    scrollToEndIfSticking();
}

void ConversationView::scrollToEndIfSticking()
{
    if (m_follower->isSticking())
        m_follower->scrollToEnd();
}
