#include "core/ladder/LadderRows.h"

#include "core/conversation/ReplyWithFallback.h"
#include "core/ladder/LadderTexts.h"
#include "core/ranker/ModelRanker.h"

#include <algorithm>

using std::chrono::milliseconds;

namespace {

template <class T> std::optional<T> found(const QHash<QString, T> &hash, const QString &key)
{
    const auto it = hash.constFind(key);
    return it == hash.constEnd() ? std::nullopt : std::optional<T>(*it);
}

std::optional<QString> lastAnsweredBy(const Chat &chat)
{
    for (auto it = chat.messages.crbegin(); it != chat.messages.crend(); ++it) {
        if (it->answeredBy)
            return it->answeredBy;
    }
    return std::nullopt;
}

void keepSooner(std::optional<milliseconds> &soonest, std::optional<milliseconds> candidate)
{
    if (candidate && (!soonest || *candidate < *soonest))
        soonest = candidate;
}

} // namespace

QString LadderRow::status() const
{
    QStringList parts;
    if (isNext)
        parts.append(QStringLiteral("next"));
    if (answeredLast)
        parts.append(QStringLiteral("answered last"));
    if (cooling)
        parts.append(*cooling);
    return parts.join(QStringLiteral(" · "));
}

QString LadderRow::spoken() const
{
    QString text = QStringLiteral("%1: first event %2, uptime %3, context %4, images %5")
                       .arg(name, firstEvent, uptime, context, images);
    const QString state = status();
    if (!state.isEmpty())
        text += QStringLiteral(", ") + state;
    return text;
}

LadderSnapshot LadderSnapshot::of(const ModelRanker &ranker, const Chat &chat, const QDateTime &now)
{
    LadderSnapshot snapshot;
    const LadderFigures &figures = ranker.figures();
    snapshot.measured = LadderTexts::measured(figures.measuredAt, now);
    snapshot.changesIn = LadderTexts::untilMeasuredChanges(figures.measuredAt, now);

    // The next message goes where the controller would send it first.
    const QList<ORModel> candidates = ranker.candidates(chat.pinnedModel, false, {});
    const std::optional<ORModel> next
        = candidates.isEmpty() ? std::nullopt : std::optional<ORModel>(candidates.first());
    const std::optional<QString> answeredBy = lastAnsweredBy(chat);
    bool nextShown = false;
    bool answerShown = false;

    for (const QString &id : ranker.ladderIDs()) {
        const std::optional<ORModel> model = ranker.model(id);
        LadderRow row;
        row.id = id;
        row.name = ReplyWithFallback::displayName(model, id);
        row.firstEvent = LadderTexts::firstEvent(found(figures.probeSeconds, id));
        row.uptime = LadderTexts::uptime(found(figures.uptimes, id));
        row.context = LadderTexts::context(model ? std::optional<int>(model->contextLength) : std::nullopt);
        row.images = !model         ? LadderTexts::unknown
            : model->supportsImages ? QStringLiteral("yes")
                                    : QStringLiteral("no");
        if (const std::optional<QDateTime> until = found(ranker.cooling(), id)) {
            const milliseconds left(now.msecsTo(*until));
            row.cooling = LadderTexts::cooling(left);
            if (row.cooling)
                keepSooner(snapshot.changesIn, LadderTexts::untilCoolingChanges(left));
        }
        // A name twice on the ladder is marked at its first place only.
        row.isNext = !nextShown && next && next->id == id;
        row.answeredLast = !answerShown && answeredBy && *answeredBy == row.name;
        nextShown = nextShown || row.isNext;
        answerShown = answerShown || row.answeredLast;
        snapshot.rows.append(row);
    }
    if (next && !nextShown)
        snapshot.nextOffLadder = QStringLiteral("Next: ") + next->name;
    if (answeredBy && !answerShown)
        snapshot.lastAnswerOffLadder = QStringLiteral("Last answer: ") + *answeredBy;
    return snapshot;
}
