#include "core/conversation/HistoryWindow.h"

#include "core/util/TextUtil.h"

namespace HistoryWindow {

static const QString assistantRole = QStringLiteral("assistant");

qsizetype remainder(const ORModel &model, const QString &systemPrompt)
{
    const int context = model.contextLength > 0 ? model.contextLength : assumedContext;
    const auto budget = qsizetype(context * historyShare);
    return budget - reserve - TextUtil::graphemeCount(systemPrompt) / charsPerToken;
}

static qsizetype cost(const ChatMessage &message)
{
    return TextUtil::graphemeCount(message.text) / charsPerToken + messageCost
        + imageCost * message.images.size();
}

QList<APIMessage> select(const QList<ChatMessage> &messages, const ORModel &model,
    const QString &systemPrompt, const QUuid &excluding)
{
    qsizetype left = remainder(model, systemPrompt);
    // Indices of the messages taken, newest first.
    QList<qsizetype> taken;
    for (qsizetype i = messages.size() - 1; i >= 0; --i) {
        const ChatMessage &message = messages.at(i);
        if (message.id == excluding)
            continue;
        const qsizetype price = cost(message);
        if (price > left && !taken.isEmpty())
            break;
        left -= price;
        taken.append(i);
    }
    while (taken.size() > 1 && messages.at(taken.last()).role == assistantRole)
        taken.removeLast();

    QList<APIMessage> result;
    result.reserve(taken.size());
    for (auto it = taken.crbegin(); it != taken.crend(); ++it) {
        const ChatMessage &message = messages.at(*it);
        result.append({ message.role, message.text, message.images });
    }
    return result;
}

} // namespace HistoryWindow
