#include "ui/conversation/ConversationView.h"

#include "core/conversation/ChatViewModel.h"
#include "ui/conversation/CenteredColumnLayout.h"
#include "ui/conversation/MessageColumn.h"
#include "ui/conversation/MessageList.h"
#include "ui/conversation/MessageRow.h"
#include "ui/conversation/ScrollFollower.h"
#include "ui/input/InputBar.h"

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
    onListReplaced(m_column->list());

    connect(&vm, &ChatViewModel::chatChanged, this, &ConversationView::onChatChanged);
    connect(&vm, &ChatViewModel::isStreamingChanged, m_column, &MessageColumn::syncMessages);
    connect(&vm, &ChatViewModel::isThinkingChanged, this, [this] {
        m_column->syncThinking();
        scrollToEndIfSticking();
    });
    connect(&vm, &ChatViewModel::issueChanged, this, [this] {
        m_column->syncIssue();
        scrollToEndIfSticking();
    });
    connect(m_column, &MessageColumn::listReplaced, this, &ConversationView::onListReplaced);
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

// chatChanged comes with every flush of streamed text; only the rows whose
// message changed do any work.
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

    if (otherChat || countChanged || textChanged)
        m_follower->setAnchoredToEnd(false);
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
        QTimer::singleShot(0, this, &ConversationView::scrollToEndIfSticking);
    }
}

void ConversationView::onListReplaced(MessageList *list)
{
    // Older rows come in above what a reader who scrolled back is reading;
    // until the conversation changes at its end, a change of height is
    // taken to come from above.
    connect(list, &MessageList::aboutToAddOlderRows, this, [this] { m_follower->setAnchoredToEnd(true); });
}

void ConversationView::scrollToEndIfSticking()
{
    if (m_follower->isSticking())
        m_follower->scrollToEnd();
}
