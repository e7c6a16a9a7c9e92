// Event-stream chunks and replies in the shapes the real service sends.
#include "FakeService.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QRandomGenerator>

namespace fake {

namespace {

const char provider[] = "Example";

QString idOr(const QString &id)
{
    return id.isEmpty() ? sse::newId() : id;
}

qint64 createdOf(const QString &id)
{
    // "gen-<created>-<letters>": keep "created" consistent with the id.
    const QStringList parts = id.split(QLatin1Char('-'));
    bool ok = false;
    const qint64 created = parts.size() >= 2 ? parts.at(1).toLongLong(&ok) : 0;
    return ok ? created : QDateTime::currentSecsSinceEpoch();
}

QJsonObject chunk(const QString &model, const QString &id, const QJsonArray &choices)
{
    return QJsonObject{ { "id", id }, { "provider", provider }, { "model", model },
        { "object", "chat.completion.chunk" }, { "created", createdOf(id) }, { "choices", choices } };
}

QJsonObject choice(const QJsonObject &delta, const QJsonValue &finish)
{
    return QJsonObject{ { "index", 0 }, { "delta", delta }, { "finish_reason", finish },
        { "native_finish_reason", finish }, { "logprobs", QJsonValue::Null } };
}

QJsonObject textDelta(const QString &text)
{
    return QJsonObject{ { "role", "assistant" }, { "content", text } };
}

} // namespace

namespace sse {

QString newId()
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    QString tail;
    for (int i = 0; i < 20; ++i)
        tail += QLatin1Char(letters[QRandomGenerator::global()->bounded(52)]);
    return QStringLiteral("gen-%1-%2").arg(QDateTime::currentSecsSinceEpoch()).arg(tail);
}

QByteArray comment()
{
    return ": OPENROUTER PROCESSING\n\n";
}

QByteArray event(const QJsonObject &object)
{
    return "data: " + QJsonDocument(object).toJson(QJsonDocument::Compact) + "\n\n";
}

QJsonObject roleChunk(const QString &model, const QString &id)
{
    return chunk(model, idOr(id), { choice(textDelta(QString()), QJsonValue::Null) });
}

QJsonObject contentChunk(const QString &model, const QString &text, const QString &id)
{
    return chunk(model, idOr(id), { choice(textDelta(text), QJsonValue::Null) });
}

QJsonObject reasoningChunk(const QString &model, const QString &reasoning, const QString &id)
{
    QJsonObject delta = textDelta(QString());
    delta.insert("reasoning", reasoning);
    delta.insert("reasoning_details",
        QJsonArray{ QJsonObject{ { "type", "reasoning.text" }, { "text", reasoning }, { "index", 0 } } });
    return chunk(model, idOr(id), { choice(delta, QJsonValue::Null) });
}

QJsonObject finishChunk(const QString &model, const QString &reason, const QString &id)
{
    return chunk(model, idOr(id), { choice(textDelta(QString()), reason) });
}

QJsonObject usageChunk(const QString &model, bool emptyChoices, const QString &id)
{
    QJsonArray choices;
    if (!emptyChoices)
        choices.append(choice(textDelta(QString()), QStringLiteral("stop")));
    QJsonObject object = chunk(model, idOr(id), choices);
    object.insert("service_tier", QJsonValue::Null);
    object.insert("usage",
        QJsonObject{ { "prompt_tokens", 12 }, { "completion_tokens", 3 }, { "total_tokens", 15 },
            { "cost", 0 }, { "is_byok", false } });
    return object;
}

QJsonObject errorChunk(const QString &model, const QJsonValue &code, const QString &message,
    const QJsonObject &metadata, const QString &id)
{
    QJsonObject error{ { "code", code }, { "message", message } };
    if (!metadata.isEmpty())
        error.insert("metadata", metadata);
    QJsonObject object
        = chunk(model, idOr(id), { choice(QJsonObject{ { "content", "" } }, QStringLiteral("error")) });
    object.insert("error", error);
    return object;
}

QByteArray done()
{
    return "data: [DONE]\n\n";
}

} // namespace sse

namespace {

QByteArray withLineEnds(QByteArray bytes, bool crlf)
{
    return crlf ? bytes.replace("\n", "\r\n") : bytes;
}

// Where to cut an event written in two pieces.
qsizetype cutOf(const QByteArray &event, const StreamOptions &options)
{
    if (options.splitLineEnds) {
        const qsizetype end = event.indexOf(options.crlf ? "\r" : "\n");
        return end < 0 ? event.size() / 2 : end + 1;
    }
    const qsizetype brace = event.indexOf('{');
    if (brace < 0)
        return event.size() / 2;
    return brace + (event.size() - brace) / 2;
}

class StreamBuilder
{
public:
    explicit StreamBuilder(const StreamOptions &options)
        : m_options(options)
    {
        m_reply.streaming = true;
        m_reply.headers = { { "Content-Type", "text/event-stream" }, { "Cache-Control", "no-cache" } };
        if (m_options.comments > 0)
            m_reply.body.append(
                Step{ withLineEnds(sse::comment().repeated(m_options.comments), m_options.crlf) });
    }

    void addEvent(const QByteArray &framed)
    {
        const bool first = m_events == 0;
        QByteArray bytes = withLineEnds(framed, m_options.crlf);
        if (!first && m_options.commentsBetween)
            bytes.prepend(withLineEnds(sse::comment(), m_options.crlf));
        Step step;
        step.delayMs = first && m_options.stallBeforeFirstMs > 0 ? m_options.stallBeforeFirstMs
                                                                 : m_options.eventDelayMs;
        step.held = m_options.holdEach || m_options.holdAt.contains(m_events);
        ++m_events;
        if (!(m_options.splitEvents || m_options.splitLineEnds)) {
            step.bytes = bytes;
            m_reply.body.append(step);
            return;
        }
        const qsizetype cut = cutOf(bytes, m_options);
        step.bytes = bytes.left(cut);
        m_reply.body.append(step);
        m_reply.body.append(
            Step{ bytes.mid(cut), m_options.holdSplit ? 0 : m_options.splitDelayMs, m_options.holdSplit });
    }

    Reply finish()
    {
        if (m_options.sendDone)
            addEvent(sse::done());
        return m_reply;
    }

private:
    StreamOptions m_options;
    Reply m_reply;
    int m_events = 0;
};

} // namespace

Reply Reply::json(int status, const QJsonValue &value)
{
    const QByteArray body = value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                                            : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
    return text(status, body, "application/json");
}

Reply Reply::text(int status, const QByteArray &body, const QByteArray &contentType)
{
    Reply reply;
    reply.status = status;
    reply.headers = { { "Content-Type", contentType } };
    reply.body = { Step{ body } };
    return reply;
}

Reply Reply::redirect(int status, const QByteArray &location)
{
    Reply reply = text(status, "<html><body>Moved</body></html>", "text/html");
    reply.headers.append({ "Location", location });
    return reply;
}

Reply Reply::error(int status, const QString &message, const std::optional<QByteArray> &retryAfter,
    const QJsonObject &metadata)
{
    QJsonObject error{ { "code", status }, { "message", message } };
    if (!metadata.isEmpty())
        error.insert("metadata", metadata);
    Reply reply = json(status, QJsonObject{ { "error", error }, { "user_id", "user_2fAkEsErViCe" } });
    if (retryAfter)
        reply.headers.append({ "Retry-After", *retryAfter });
    return reply;
}

Reply Reply::stream(const QString &model, const QStringList &pieces, const StreamOptions &options)
{
    const QString id = sse::newId();
    StreamBuilder builder(options);
    builder.addEvent(sse::event(sse::roleChunk(model, id)));
    for (const QString &piece : options.reasoning)
        builder.addEvent(sse::event(sse::reasoningChunk(model, piece, id)));
    for (const QString &piece : pieces)
        builder.addEvent(sse::event(sse::contentChunk(model, piece, id)));
    if (!options.finishReason.isEmpty()) {
        builder.addEvent(sse::event(sse::finishChunk(model, options.finishReason, id)));
        builder.addEvent(sse::event(sse::usageChunk(model, options.usageWithEmptyChoices, id)));
    }
    return builder.finish();
}

Reply Reply::streamError(const QString &model, const QStringList &pieces, const QJsonValue &code,
    const QString &message, StreamOptions options)
{
    const QString id = sse::newId();
    StreamBuilder builder(options);
    builder.addEvent(sse::event(sse::roleChunk(model, id)));
    for (const QString &piece : pieces)
        builder.addEvent(sse::event(sse::contentChunk(model, piece, id)));
    // The service names the kind of an error inside a stream; a code that
    // is text (seen in the wild) comes without metadata.
    QJsonObject metadata;
    if (code.isDouble())
        metadata = { { "error_type", code.toInt() == 429 ? "rate_limit_exceeded" : "provider_unavailable" },
            { "raw", "upstream connect error" }, { "provider_name", provider } };
    builder.addEvent(sse::event(sse::errorChunk(model, code, message, metadata, id)));
    return builder.finish();
}

Reply Reply::events(const QList<QJsonObject> &events, const StreamOptions &options)
{
    StreamBuilder builder(options);
    for (const QJsonObject &object : events)
        builder.addEvent(sse::event(object));
    return builder.finish();
}

Reply Reply::rawStream(const QList<QByteArray> &chunks, const StreamOptions &options)
{
    Reply reply = events({}, [&options] {
        StreamOptions bare;
        bare.comments = 0;
        bare.sendDone = false;
        bare.crlf = options.crlf;
        return bare;
    }());
    for (int i = 0; i < chunks.size(); ++i) {
        const int delay
            = i == 0 && options.stallBeforeFirstMs > 0 ? options.stallBeforeFirstMs : options.eventDelayMs;
        reply.body.append(Step{ chunks.at(i), delay, options.holdEach || options.holdAt.contains(i) });
    }
    return reply;
}

QByteArray Request::pathOnly() const
{
    const qsizetype query = path.indexOf('?');
    return query < 0 ? path : path.left(query);
}

QByteArray Request::header(const QByteArray &name) const
{
    return headers.value(name.toLower());
}

QJsonObject Request::json() const
{
    return QJsonDocument::fromJson(body).object();
}

QString Request::model() const
{
    return json().value("model").toString();
}

QString Request::bearer() const
{
    const QByteArray value = header("authorization").trimmed();
    if (!value.toLower().startsWith("bearer "))
        return {};
    return QString::fromUtf8(value.mid(7).trimmed());
}

} // namespace fake
