// The open chat's save problem, apart from the generation's issue.

#include "core/conversation/ChatViewModel.h"

void ChatViewModel::syncSaveIssue()
{
    std::optional<AppIssue> issue;
    if (const std::optional<QString> reason = m_store.saveFailure(m_chat.id))
        issue = AppIssue{ QStringLiteral("Couldn't save this chat."), *reason };
    if (m_saveIssue != issue) {
        m_saveIssue = issue;
        touch(saveIssueField);
    }
}

void ChatViewModel::retrySave()
{
    m_store.retryFailedSaves();
}
