#pragma once

// Runs calls of the real client against the fake service and collects what
// they deliver.
#include "core/service/OpenRouterClient.h"

#include <QPointer>
#include <memory>

namespace harness {

inline const QString model = QStringLiteral("vendor/small-model:free");
inline const QString key = QStringLiteral("sk-or-v1-test");

struct StreamRun {
    QPointer<StreamCall> call;
    QStringList tokens;
    QList<StreamOutcome> outcomes;
    // Called from inside onToken after each token is recorded.
    std::function<void(StreamRun &)> onEachToken;
};

inline std::shared_ptr<StreamRun> stream(OpenRouterClient &client, double deadlineSeconds = 30.0,
    const QList<APIMessage> &messages = { { "user", "Hello?", {} } },
    const std::optional<QString> &system = std::nullopt, std::optional<int> maxTokens = std::nullopt)
{
    auto run = std::make_shared<StreamRun>();
    StreamRun *raw = run.get();
    run->call = client.streamChat(
        key, model, messages, system, maxTokens, deadlineSeconds, [raw](const QString &t) {
            raw->tokens.append(t);
            if (raw->onEachToken)
                raw->onEachToken(*raw);
        });
    QObject::connect(
        run->call, &StreamCall::finished, [run](const StreamOutcome &o) { run->outcomes.append(o); });
    return run;
}

// Collects the single result of a one-signal call.
template <class Call, class Result> struct Collector {
    QPointer<Call> call;
    QList<Result> results;
};

template <class Result, class Call> std::shared_ptr<Collector<Call, Result>> collect(Call *call)
{
    auto collector = std::make_shared<Collector<Call, Result>>();
    collector->call = call;
    QObject::connect(call, &Call::finished, [collector](const Result &r) { collector->results.append(r); });
    return collector;
}

} // namespace harness
