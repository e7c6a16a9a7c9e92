#include "ConversationHarness.h"

#include "TestSupport.h"
#include "core/ranker/RankerCache.h"
#include "core/ranker/RefreshRequest.h"

namespace convkit {

ORModel model(const QString &id, const QString &name, int contextLength, bool images)
{
    return ORModel{ id, name, contextLength, images };
}

fake::Reply streamHeldAt(const QString &id, const QStringList &pieces, const QList<int> &holdAt)
{
    fake::StreamOptions options;
    options.holdAt = holdAt;
    return fake::Reply::stream(id, pieces, options);
}

QList<ORModel> ScriptedRanker::candidates(
    const std::optional<QString> &pinned, bool needsImages, const QSet<QString> &excluding) const
{
    pinsAsked.append(pinned);
    if (!offer)
        return ModelRanker::candidates(pinned, needsImages, excluding);
    QList<ORModel> left;
    for (const ORModel &m : *offer) {
        if (!excluding.contains(m.id))
            left.append(m);
    }
    return left;
}

Harness::Harness()
{
    if (!fake.start())
        qFatal("the fake service did not start");
    client = std::make_unique<OpenRouterClient>(fake.origin());
    store = std::make_unique<ChatStore>(dir.filePath(QStringLiteral("chats")));
    ranker = std::make_unique<ScriptedRanker>(*client, dir.filePath(QStringLiteral("models-cache.json")));
    vm = std::make_unique<ChatViewModel>(*store, *ranker, *client);
    vm->keyProvider = [] { return std::optional<QString>(QStringLiteral("sk-or-v1-test")); };
    vm->onUnauthorized = [this] { ++unauthorizedCalls; };
}

Harness::~Harness()
{
    vm.reset();
    store->drain();
}

void Harness::useModels(const QList<ORModel> &models, QStringList ladder)
{
    if (ladder.isEmpty()) {
        for (const ORModel &m : models)
            ladder.append(m.id);
    }
    ladder.append(ModelRanker::routerId);
    RankerCache{ QDateTime::currentDateTimeUtc(), models, ladder }.write(ranker->cachePath());
    bool done = false;
    QObject::connect(ranker->refresh(QStringLiteral("sk-or-v1-test"), false), &RefreshRequest::finished,
        ranker.get(), [&done](const std::optional<ORError> &) { done = true; });
    if (!testsupport::waitFor([&done] { return done; }) || ranker->ladderIDs() != ladder)
        qFatal("the ranker did not take the models");
}

void Harness::failThenAnswer(const ORModel &first, const fake::Reply &failure, const ORModel &second)
{
    useModels({ first, second });
    fake.enqueueChat(first.id, failure);
    fake.enqueueChat(second.id, fake::Reply::stream(second.id, { "Second", " answer" }));
}

void Harness::say(const QString &text)
{
    vm->setDraft(text);
    vm->send();
}

bool Harness::waitIdle()
{
    return testsupport::waitFor([this] { return !vm->isStreaming(); });
}

bool Harness::waitChatRequests(int n)
{
    return testsupport::waitFor([this, n] { return fake.chatRequests().size() >= n; });
}

} // namespace convkit
