#include "core/service/StreamEvent.h"

#include "core/service/NumberText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QByteArrayView trimBlanksAndTabs(QByteArrayView text)
{
    auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

ORError inStreamError(const QJsonObject &error)
{
    const int code = NumberText::exactInt(error.value(QLatin1String("code"))).value_or(500);
    const QJsonValue message = error.value(QLatin1String("message"));
    const QString text
        = message.isString() ? message.toString() : QStringLiteral("The model stopped with an error.");
    return ORError::fromHTTP(code, text, std::nullopt).withStatedLimit(RateLimit::fromErrorObject(error));
}

// The first choice, when "choices" is a non-empty array of objects.
std::optional<QJsonObject> firstChoice(const QJsonValue &choices)
{
    const QJsonArray array = choices.toArray();
    if (!choices.isArray() || array.isEmpty())
        return std::nullopt;
    for (const QJsonValue &choice : array) {
        if (!choice.isObject())
            return std::nullopt;
    }
    return array.first().toObject();
}

StreamEvent chunkEvent(const QJsonObject &object)
{
    StreamEvent event;
    event.kind = StreamEvent::Kind::chunk;
    const QJsonValue model = object.value(QLatin1String("model"));
    if (model.isString())
        event.model = model.toString();
    if (const std::optional<QJsonObject> choice = firstChoice(object.value(QLatin1String("choices")))) {
        const QJsonValue content
            = choice->value(QLatin1String("delta")).toObject().value(QLatin1String("content"));
        if (content.isString())
            event.content = content.toString();
        event.finishedWithError
            = choice->value(QLatin1String("finish_reason")).toString() == QLatin1String("error");
    }
    return event;
}

} // namespace

StreamEvent StreamEvent::parse(QByteArrayView line)
{
    if (!line.startsWith("data:"))
        return {};
    const QByteArrayView payload = trimBlanksAndTabs(line.sliced(5));
    if (payload == "[DONE]")
        return StreamEvent{ Kind::done, {}, {}, {}, false };
    const QJsonDocument doc = QJsonDocument::fromJson(payload.toByteArray());
    if (!doc.isObject())
        return {};
    const QJsonObject object = doc.object();
    const QJsonValue error = object.value(QLatin1String("error"));
    if (error.isObject())
        return StreamEvent{ Kind::failed, inStreamError(error.toObject()), {}, {}, false };
    return chunkEvent(object);
}

ORError StreamEvent::finishReasonError()
{
    return ORError::server(502, QStringLiteral("The model reported finish_reason \"error\"."));
}
