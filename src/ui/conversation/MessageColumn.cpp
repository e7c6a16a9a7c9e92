#include "ui/conversation/MessageColumn.h"

#include "core/conversation/ChatViewModel.h"
#include "core/conversation/ConversationModel.h"
#include "ui/conversation/MessageList.h"
#include "ui/conversation/ThinkingIndicator.h"
#include "ui/style/Palette.h"
#include "ui/widgets/IssueView.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QWidget *makeEmptyState(QWidget *parent)
{
    auto *state = new QWidget(parent);
    auto *stack = new QVBoxLayout(state);
    stack->setContentsMargins(0, 120, 0, 0);
    stack->setSpacing(8);

    auto *title = new QLabel(QStringLiteral("How can I help?"), state);
    title->setTextFormat(Qt::PlainText);
    title->setAlignment(Qt::AlignHCenter);
    QFont font = title->font();
    font.setPixelSize(26);
    font.setWeight(QFont::DemiBold);
    title->setFont(font);

    auto *line = new QLabel(QStringLiteral("Ask anything. The fastest free model answers."), state);
    line->setTextFormat(Qt::PlainText);
    line->setAlignment(Qt::AlignHCenter);
    line->setWordWrap(true);
    Palette::useSecondaryText(line);

    stack->addWidget(title);
    stack->addWidget(line);
    return state;
}

} // namespace

MessageColumn::MessageColumn(ChatViewModel &vm, QWidget *parent)
    : QWidget(parent)
    , m_vm(vm)
    , m_layout(new QVBoxLayout(this))
    , m_emptyState(makeEmptyState(this))
    , m_list(new MessageList(vm.conversation(), this))
    , m_thinking(new ThinkingIndicator(this))
{
    m_layout->setContentsMargins(24, 20, 24, 20);
    m_layout->setSpacing(MessageList::rowSpacing);
    m_layout->addWidget(m_emptyState);
    m_layout->addWidget(m_list);
    m_layout->addWidget(m_thinking);
    m_layout->addStretch(1);
    m_thinking->hide();

    syncMessages();
    syncThinking();
    syncIssue();
    syncSaveIssue();
    m_list->setCanContinue([&vm] { return vm.canContinue(); });
    connect(m_list, &MessageList::regenerateRequested, &vm, &ChatViewModel::regenerate);
    connect(m_list, &MessageList::continueRequested, &vm, &ChatViewModel::continueAnswer);
    connect(&vm, &ChatViewModel::saveIssueChanged, this, &MessageColumn::syncSaveIssue);
    connect(&vm, &ChatViewModel::limitWaitChanged, this, &MessageColumn::syncThinking);
}

void MessageColumn::syncMessages()
{
    const bool empty = m_vm.conversation().rowCount() == 0;
    m_list->setVisible(!empty);
    m_emptyState->setVisible(empty && !m_vm.isStreaming());
}

void MessageColumn::syncThinking()
{
    m_thinking->setLimitWait(m_vm.limitWait());
    m_thinking->setVisible(m_vm.isThinking());
}

void MessageColumn::syncIssue()
{
    const std::optional<AppIssue> &issue = m_vm.issue();
    if (issue && m_issueView) {
        m_issueView->setIssue(*issue);
        return;
    }
    if (issue) {
        m_issueView = new IssueView(
            *issue, QStringLiteral("Try again"), [this] { m_vm.retry(); }, this);
        m_layout->insertWidget(m_layout->indexOf(m_thinking) + 1, m_issueView);
        // Shown now, with the state that asks for it, rather than when the
        // layout gets round to it on a later turn of the event loop.
        m_issueView->setVisible(true);
        return;
    }
    takeAway(m_issueView);
}

void MessageColumn::syncSaveIssue()
{
    const std::optional<AppIssue> &issue = m_vm.saveIssue();
    if (issue && m_saveIssueView) {
        m_saveIssueView->setIssue(*issue);
        return;
    }
    if (issue) {
        m_saveIssueView = new IssueView(
            *issue, QStringLiteral("Try again"), [this] { m_vm.retrySave(); }, this);
        m_saveIssueView->setAccessibleName(QStringLiteral("Save problem"));
        m_saveIssueView->retryButton()->setAccessibleName(QStringLiteral("Try saving again"));
        // Below the reply's issue, if there is one: the last thing in the column.
        m_layout->insertWidget(m_layout->count() - 1, m_saveIssueView);
        m_saveIssueView->setVisible(true);
        return;
    }
    takeAway(m_saveIssueView);
}

void MessageColumn::takeAway(IssueView *&box)
{
    if (!box)
        return;
    m_layout->removeWidget(box);
    box->hide();
    box->deleteLater(); // its own button may have caused this
    box = nullptr;
}
