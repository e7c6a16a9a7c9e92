#include "FakeScript.h"

#include "FakeFixtures.h"

#include <QJsonArray>
#include <QJsonDocument>

using fake::Reply;
using fake::Request;

namespace {

const QByteArray controlPrefix = "/__fake/";

bool isControl(const Request &request)
{
    return request.path.startsWith(controlPrefix);
}

fake::StreamOptions optionsOf(const QJsonObject &form)
{
    fake::StreamOptions options;
    options.comments = form.value("comments").toInt(1);
    options.eventDelayMs = form.value("event_delay_ms").toInt();
    options.stallBeforeFirstMs = form.value("stall_ms").toInt();
    options.holdEach = form.value("hold_each").toBool();
    for (const QJsonValue &index : form.value("hold_at").toArray())
        options.holdAt.append(index.toInt());
    options.crlf = form.value("crlf").toBool();
    options.splitEvents = form.value("split").toBool();
    options.usageWithEmptyChoices = form.value("usage_empty_choices").toBool();
    // null: the stream stops with no finish chunk, as a cut transfer does.
    const QJsonValue finish = form.value("finish_reason");
    options.finishReason = finish.isNull() ? QString() : finish.toString(QStringLiteral("stop"));
    for (const QJsonValue &piece : form.value("reasoning").toArray())
        options.reasoning.append(piece.toString());
    return options;
}

QStringList piecesOf(const QJsonObject &form)
{
    QStringList pieces;
    for (const QJsonValue &piece : form.value("pieces").toArray())
        pieces.append(piece.toString());
    return pieces;
}

Reply streamOf(const QJsonObject &form, const QString &model)
{
    fake::StreamOptions options = optionsOf(form);
    const bool failing = form.contains("stream_error") || form.value("finish_error").toBool();
    options.sendDone = form.value("done").toBool(!failing);
    const QStringList pieces = piecesOf(form);
    Reply reply;
    if (form.contains("stream_error")) {
        const QJsonObject error = form.value("stream_error").toObject();
        reply = Reply::streamError(
            model, pieces, error.value("code"), error.value("message").toString(), options);
    } else if (failing) {
        const QString id = fake::sse::newId();
        QList<QJsonObject> events{ fake::sse::roleChunk(model, id) };
        for (const QString &piece : pieces)
            events.append(fake::sse::contentChunk(model, piece, id));
        events.append(fake::sse::finishChunk(model, QStringLiteral("error"), id));
        reply = Reply::events(events, options);
    } else {
        reply = Reply::stream(model, pieces, options);
    }
    reply.closeAfter = !form.value("keep_open").toBool();
    return reply;
}

Reply plainOf(const QJsonObject &form)
{
    const int status = form.value("status").toInt(200);
    if (form.contains("json"))
        return Reply::json(status, form.value("json"));
    if (form.contains("body"))
        return Reply::text(status, form.value("body").toString().toUtf8(),
            form.value("content_type").toString("text/plain").toUtf8());
    std::optional<QByteArray> retryAfter;
    if (form.contains("retry_after"))
        retryAfter = form.value("retry_after").toVariant().toString().toUtf8();
    return Reply::error(
        status, form.value("message").toString(), retryAfter, form.value("metadata").toObject());
}

QJsonObject requestJson(const Request &request)
{
    QJsonObject headers;
    for (auto it = request.headers.cbegin(); it != request.headers.cend(); ++it)
        headers.insert(QString::fromLatin1(it.key()), QString::fromUtf8(it.value()));
    return QJsonObject{ { "method", QString::fromLatin1(request.method) },
        { "path", QString::fromUtf8(request.path) }, { "headers", headers },
        { "body", QString::fromUtf8(request.body) } };
}

} // namespace

FakeScript::FakeScript(fake::FakeService *service)
    : m_service(service)
{
    apply({});
}

Reply FakeScript::replyOf(const QJsonObject &form, const QString &model)
{
    Reply reply
        = form.contains("pieces") ? streamOf(form, form.value("model").toString(model)) : plainOf(form);
    const QJsonObject extra = form.value("headers").toObject();
    for (auto it = extra.begin(); it != extra.end(); ++it)
        reply.headers.append({ it.key().toUtf8(), it.value().toVariant().toString().toUtf8() });
    reply.headDelayMs = form.value("delay_ms").toInt();
    return reply;
}

bool FakeScript::load(const QJsonObject &script, QString *error)
{
    for (const QString &member : { QStringLiteral("chat"), QStringLiteral("stats"),
             QStringLiteral("exchange"), QStringLiteral("auth_error") })
        if (script.contains(member) && !script.value(member).isObject()) {
            *error = QStringLiteral("\"%1\" must be an object").arg(member);
            return false;
        }
    for (const QString &member :
        { QStringLiteral("catalogue"), QStringLiteral("valid_keys"), QStringLiteral("routes") })
        if (script.contains(member) && !script.value(member).isArray()) {
            *error = QStringLiteral("\"%1\" must be an array").arg(member);
            return false;
        }
    const QJsonValue daily = script.value("daily_requests");
    if (!daily.isUndefined() && !daily.isNull() && !daily.isObject()) {
        *error = QStringLiteral("\"daily_requests\" must be an object or null");
        return false;
    }
    apply(script);
    return true;
}

void FakeScript::apply(const QJsonObject &script)
{
    m_service->reset();
    m_service->setResponder([this](const Request &request) { return respond(request); });
    m_chat = script.value("chat").toObject();
    m_used.clear();

    m_service->setCatalogue(script.value("catalogue_sample").toBool() ? fake::catalogue::sample()
                                                                      : script.value("catalogue").toArray());
    const QJsonObject stats = script.value("stats").toObject();
    for (auto it = stats.begin(); it != stats.end(); ++it) {
        const QJsonObject entry = it.value().toObject();
        const QJsonValue body = entry.contains("body")
            ? entry.value("body")
            : QJsonValue(fake::stats::endpoints(
                entry.value("uptime").toDouble(100), entry.value("latency").toDouble(500)));
        m_service->setStats(it.key(), body, entry.value("delay_ms").toInt());
    }
    if (script.contains("valid_keys"))
        m_service->setValidKeys(script.value("valid_keys").toVariant().toStringList());
    m_service->setFreeTier(script.value("free_tier").toBool(true));
    const QJsonValue daily = script.value("daily_requests");
    if (daily.isNull())
        m_service->omitDailyRequests();
    else
        m_service->setDailyRequests(
            daily["limit"].toInt(50), daily["used_elsewhere"].toInt()); // absent: the defaults
    if (script.contains("exchange")) {
        const QJsonObject exchange = script.value("exchange").toObject();
        m_service->setExchange(exchange.value("code").toString(), exchange.value("key").toString());
    }
    if (script.contains("auth_error")) {
        const QJsonObject denial = script.value("auth_error").toObject();
        m_service->setAuthError(denial.value("error").toString(), denial.value("description").toString());
    }
    for (const QJsonValue &route : script.value("routes").toArray()) {
        const QJsonObject object = route.toObject();
        m_service->on(object.value("method").toString("GET").toUtf8(),
            object.value("path").toString().toUtf8(), replyOf(object.value("reply").toObject(), QString()));
    }
}

std::optional<Reply> FakeScript::respond(const Request &request)
{
    if (isControl(request))
        return control(request);
    if (request.method == "POST" && request.pathOnly() == "/api/v1/chat/completions")
        return chat(request);
    return std::nullopt;
}

std::optional<Reply> FakeScript::chat(const Request &request)
{
    const QString requested = request.model();
    const QString served = fake::servedModel(requested);
    for (const QString &key : { requested, QStringLiteral("*") }) {
        if (!m_chat.contains(key))
            continue;
        const QJsonObject form = m_chat.value(key).toObject();
        if (!form.contains("sequence"))
            return replyOf(form, served);
        const QJsonArray sequence = form.value("sequence").toArray();
        const int used = m_used.value(key);
        if (used < sequence.size()) {
            m_used[key] = used + 1;
            return replyOf(sequence.at(used).toObject(), served);
        }
    }
    return std::nullopt; // the fake's own default stream
}

std::optional<Reply> FakeScript::control(const Request &request)
{
    const QByteArray what = request.pathOnly().mid(controlPrefix.size());
    if (request.method == "POST" && what == "script") {
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(request.body, &parseError);
        QString error = document.isObject() ? QString() : QStringLiteral("the script is not a JSON object");
        if (error.isEmpty() && load(document.object(), &error))
            return Reply::json(200, QJsonObject{ { "ok", true } });
        return Reply::json(400, QJsonObject{ { "ok", false }, { "error", error } });
    }
    if (request.method == "POST" && what == "release")
        return Reply::json(200, QJsonObject{ { "released", m_service->release() } });
    QJsonArray requests;
    for (const Request &recorded : m_service->requests())
        if (!isControl(recorded))
            requests.append(requestJson(recorded));
    if (request.method == "GET" && what == "requests")
        return Reply::json(200, QJsonObject{ { "requests", requests } });
    if (request.method == "DELETE" && what == "requests") {
        m_service->clearRequests();
        return Reply::json(200, QJsonObject{ { "ok", true } });
    }
    if (request.method == "GET" && what == "status")
        return Reply::json(200,
            QJsonObject{ { "held", m_service->heldSteps() }, { "client_closes", m_service->clientCloses() },
                { "requests", requests.size() } });
    return Reply::error(404, QStringLiteral("No such control call."));
}
