#include "RankerTestKit.h"

#include "TestSupport.h"
#include "core/util/DateCodec.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>

namespace rankerkit {

QJsonObject freeEntry(const QString &id, int contextLength, bool images)
{
    const QJsonArray inputs = images ? QJsonArray{ "text", "image" } : QJsonArray{ "text" };
    return QJsonObject{ { "id", id }, { "name", id + QStringLiteral(" (free)") },
        { "context_length", contextLength },
        { "pricing", QJsonObject{ { "prompt", "0" }, { "completion", "0" } } },
        { "architecture",
            QJsonObject{ { "input_modalities", inputs }, { "output_modalities", QJsonArray{ "text" } } } },
        { "expiration_date", QJsonValue::Null } };
}

QJsonObject statsBody(std::optional<double> uptime, std::optional<double> latencyMs)
{
    QJsonObject endpoint{ { "provider_name", "Example" }, { "status", 0 } };
    endpoint.insert("uptime_last_30m", uptime ? QJsonValue(*uptime) : QJsonValue(QJsonValue::Null));
    endpoint.insert("latency_last_30m",
        latencyMs ? QJsonValue(QJsonObject{ { "p50", *latencyMs }, { "p90", *latencyMs * 2 } })
                  : QJsonValue(QJsonValue::Null));
    return QJsonObject{ { "data", QJsonObject{ { "endpoints", QJsonArray{ endpoint } } } } };
}

void writeCache(
    const QString &path, const QDateTime &fetched, const QList<ORModel> &models, const QStringList &ladder)
{
    QJsonArray modelArray;
    for (const ORModel &model : models)
        modelArray.append(model.toJson());
    const QJsonObject root{ { "fetched", DateCodec::toReferenceSeconds(fetched) }, { "models", modelArray },
        { "ladder", QJsonArray::fromStringList(ladder) } };
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(QJsonDocument(root).toJson(QJsonDocument::Compact));
}

QJsonObject readJsonFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

fake::Reply probeSuccess(const QString &model, int round)
{
    fake::StreamOptions options;
    options.comments = 0;
    fake::Reply reply = fake::Reply::stream(model, { QStringLiteral("Hi") }, options);
    reply.body.first().held = true;
    // Keep-alive comments do not count as the first event.
    for (int i = 1; i < round; ++i)
        reply.body.prepend(fake::Step{ fake::sse::comment(), 0, true });
    return reply;
}

fake::Reply probeFailure(const fake::Reply &error, int round)
{
    fake::Reply reply = error;
    QByteArray body;
    for (const fake::Step &step : error.body)
        body += step.bytes;
    // The body in `round` held pieces: the client classifies it only once
    // the whole of it has come.
    const qsizetype piece = body.size() / round;
    reply.body.clear();
    for (int i = 0; i < round; ++i) {
        const qsizetype from = i * piece;
        const qsizetype size = i == round - 1 ? body.size() - from : piece;
        reply.body.append(fake::Step{ body.mid(from, size), 0, true });
    }
    return reply;
}

fake::Reply silentProbe()
{
    fake::StreamOptions options;
    options.holdEach = true;
    return fake::Reply::stream(QStringLiteral("silent"), {}, options);
}

ChatReplies::ChatReplies(QNetworkAccessManager &network)
{
    connect(&network, &QNetworkAccessManager::finished, this, [this](QNetworkReply *reply) {
        if (reply->url().path().endsWith(QLatin1String("/chat/completions")))
            ++m_finished;
    });
}

bool runProbeRounds(fake::FakeService &fake, const ChatReplies &replies, int rounds)
{
    const int before = replies.finished();
    for (int round = 1; round <= rounds; ++round) {
        const int waiting = rounds - round + 1;
        if (!testsupport::waitFor([&] { return fake.heldSteps() == waiting; }))
            return false;
        // Back to back: the next round's steps are held only on a later turn
        // of the event loop, so these are exactly this round's.
        for (int i = 0; i < waiting; ++i)
            fake.release();
        if (!testsupport::waitFor([&] { return replies.finished() == before + round; }))
            return false;
    }
    return true;
}

QStringList ids(const QList<ORModel> &models)
{
    QStringList result;
    for (const ORModel &model : models)
        result.append(model.id);
    return result;
}

} // namespace rankerkit
