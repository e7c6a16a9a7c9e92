#pragma once

#include "FakeService.h"
#include "core/conversation/ChatViewModel.h"
#include "core/ranker/ModelRanker.h"
#include "core/service/OpenRouterClient.h"
#include "core/store/ChatStore.h"

#include <QTemporaryDir>
#include <memory>
#include <optional>

namespace convkit {

ORModel model(const QString &id, const QString &name, int contextLength = 32000, bool images = false);

// A stream of pieces whose events `holdAt` (0 is the role chunk, 1 the first
// piece) wait for FakeService::release().
fake::Reply streamHeldAt(const QString &id, const QStringList &pieces, const QList<int> &holdAt);

// A real ranker whose candidate list a test may fix: with `offer` set it
// yields those models (less the excluded ones) instead of its ladder.
class ScriptedRanker : public ModelRanker
{
public:
    using ModelRanker::ModelRanker;

    std::optional<QList<ORModel>> offer;
    mutable QList<std::optional<QString>> pinsAsked; // the pin of every request

    QList<ORModel> candidates(const std::optional<QString> &pinned, bool needsImages,
        const QSet<QString> &excluding) const override;
};

// The whole conversation stack over real sockets: the fake service, a client
// pointed at it, a store in a temporary folder, a real ranker, and the
// controller, with a key.
class Harness
{
public:
    Harness();
    ~Harness();

    // Gives the ranker these free models and this ladder (the router is
    // appended), as a fresh cache it adopts without network work.
    void useModels(const QList<ORModel> &models, QStringList ladder = {});
    // Offers first, then second: first fails with `failure`, second answers
    // "Second answer" when it is asked.
    void failThenAnswer(const ORModel &first, const fake::Reply &failure, const ORModel &second);
    // Types text and sends it.
    void say(const QString &text);
    // Waits until no generation runs.
    bool waitIdle();
    // Waits until the fake has received n chat requests.
    bool waitChatRequests(int n);

    const ChatMessage &lastMessage() const { return vm->chat().messages.last(); }
    std::optional<Chat> stored(const QUuid &id) const { return store->load(id); }

    QTemporaryDir dir;
    fake::FakeService fake;
    std::unique_ptr<OpenRouterClient> client;
    std::unique_ptr<ChatStore> store;
    std::unique_ptr<ScriptedRanker> ranker;
    std::unique_ptr<ChatViewModel> vm;
    int unauthorizedCalls = 0;
};

} // namespace convkit
