#include "core/service/StreamEvent.h"

#include <QDateTime>
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

QString stringOf(const QJsonObject &object, QLatin1String name)
{
    const QJsonValue value = object.value(name);
    return value.isString() ? value.toString() : QString();
}

// The readable part of "reasoning_details": text and summary entries, in
// order. Encrypted entries hold nothing a person could read.
QString reasoningDetailsText(const QJsonValue &details)
{
    QString text;
    for (const QJsonValue &entry : details.toArray()) {
        const QJsonObject detail = entry.toObject();
        const QString type = stringOf(detail, QLatin1String("type"));
        if (type == QLatin1String("reasoning.text"))
            text += stringOf(detail, QLatin1String("text"));
        else if (type == QLatin1String("reasoning.summary"))
            text += stringOf(detail, QLatin1String("summary"));
    }
    return text;
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
        const QJsonObject delta = choice->value(QLatin1String("delta")).toObject();
        event.content = stringOf(delta, QLatin1String("content"));
        if (event.content.isEmpty())
            event.content = stringOf(delta, QLatin1String("refusal"));
        event.reasoning = stringOf(delta, QLatin1String("reasoning"));
        if (event.reasoning.isEmpty())
            event.reasoning = reasoningDetailsText(delta.value(QLatin1String("reasoning_details")));
        const QJsonValue finish = choice->value(QLatin1String("finish_reason"));
        if (finish.isString())
            event.finishReason = finish.toString();
        event.finishedWithError = event.finishReason == QLatin1String("error");
    }
    return event;
}

} // namespace

StreamEvent StreamEvent::parse(QByteArrayView line, const ErrorReport::Headers &headers)
{
    if (!line.startsWith("data:"))
        return {};
    const QByteArrayView payload = trimBlanksAndTabs(line.sliced(5));
    if (payload == "[DONE]") {
        StreamEvent done;
        done.kind = Kind::done;
        return done;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(payload.toByteArray());
    if (!doc.isObject())
        return {};
    const QJsonObject object = doc.object();
    const QJsonValue error = object.value(QLatin1String("error"));
    if (error.isObject()) {
        StreamEvent failed;
        failed.kind = Kind::failed;
        failed.error = ORError::classify(
            ErrorReport::fromStreamError(error.toObject(), headers, QDateTime::currentMSecsSinceEpoch()));
        return failed;
    }
    return chunkEvent(object);
}

ORError StreamEvent::finishReasonError()
{
    return ORError::server(502, QStringLiteral("The model reported finish_reason \"error\"."));
}
