#include "core/records/ChatRecords.h"

#include "core/records/JsonRead.h"
#include "core/util/DateCodec.h"
#include "core/util/TextUtil.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace JsonRead;

namespace {

QJsonValue dateValue(const QDateTime &when)
{
    return DateCodec::toReferenceSeconds(when);
}

void putOptional(QJsonObject &object, const QString &key, const std::optional<QString> &value)
{
    if (value)
        object.insert(key, *value);
}

// A member added after the first files were written: anything but a string
// reads as absent, so an odd value never costs the whole chat.
std::optional<QString> lenientString(const QJsonObject &object, QStringView key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? std::optional(value.toString()) : std::nullopt;
}

} // namespace

QJsonObject ChatMessage::toJson() const
{
    QJsonObject object{
        { QStringLiteral("id"), RecordCodec::uuidText(id) },
        { QStringLiteral("role"), role },
        { QStringLiteral("text"), text },
        { QStringLiteral("images"), QJsonArray::fromStringList(images) },
    };
    putOptional(object, QStringLiteral("answeredBy"), answeredBy);
    putOptional(object, QStringLiteral("note"), note);
    if (cut)
        object.insert(QStringLiteral("cut"), RecordCodec::cutCode(*cut));
    putOptional(object, QStringLiteral("reasoning"), reasoning);
    if (reasoningSeconds)
        object.insert(QStringLiteral("reasoningSeconds"), *reasoningSeconds);
    putOptional(object, QStringLiteral("modelId"), modelId);
    return object;
}

std::optional<ChatMessage> ChatMessage::fromJson(const QJsonObject &object)
{
    const auto id = uuidMember(object, u"id");
    const auto role = stringMember(object, u"role");
    const auto text = stringMember(object, u"text");
    const auto images = stringListMember(object, u"images");
    const auto answeredBy = optionalStringMember(object, u"answeredBy");
    const auto note = optionalStringMember(object, u"note");
    if (!id || !role || !text || !images || !answeredBy || !note)
        return std::nullopt;
    ChatMessage message{ *id, *role, *text, *images, *answeredBy, *note };
    message.cut = RecordCodec::parseCutCode(object.value(QLatin1String("cut")).toString());
    message.reasoning = lenientString(object, u"reasoning");
    const QJsonValue seconds = object.value(QLatin1String("reasoningSeconds"));
    if (seconds.isDouble() && seconds.toDouble() >= 0)
        message.reasoningSeconds = seconds.toDouble();
    message.modelId = lenientString(object, u"modelId");
    return message;
}

QJsonObject ChatSummary::toJson() const
{
    return QJsonObject{
        { QStringLiteral("id"), RecordCodec::uuidText(id) },
        { QStringLiteral("title"), title },
        { QStringLiteral("updated"), dateValue(updated) },
    };
}

std::optional<ChatSummary> ChatSummary::fromJson(const QJsonObject &object)
{
    const auto id = uuidMember(object, u"id");
    const auto title = stringMember(object, u"title");
    const auto updated = dateMember(object, u"updated");
    if (!id || !title || !updated)
        return std::nullopt;
    return ChatSummary{ *id, *title, *updated };
}

QJsonObject Chat::toJson() const
{
    QJsonArray messageArray;
    for (const ChatMessage &message : messages)
        messageArray.append(message.toJson());
    QJsonObject object{
        { QStringLiteral("id"), RecordCodec::uuidText(id) },
        { QStringLiteral("title"), title },
        { QStringLiteral("updated"), dateValue(updated) },
        { QStringLiteral("messages"), messageArray },
    };
    putOptional(object, QStringLiteral("pinnedModel"), pinnedModel);
    return object;
}

std::optional<Chat> Chat::fromJson(const QJsonObject &object)
{
    const auto id = uuidMember(object, u"id");
    const auto title = stringMember(object, u"title");
    const auto updated = dateMember(object, u"updated");
    const auto pinnedModel = optionalStringMember(object, u"pinnedModel");
    const auto messageArray = arrayMember(object, u"messages");
    if (!id || !title || !updated || !pinnedModel || !messageArray)
        return std::nullopt;

    QList<ChatMessage> messages;
    messages.reserve(messageArray->size());
    for (const QJsonValue &value : *messageArray) {
        if (!value.isObject())
            return std::nullopt;
        auto message = ChatMessage::fromJson(value.toObject());
        if (!message)
            return std::nullopt;
        messages.append(std::move(*message));
    }
    return Chat{ *id, *title, *updated, *pinnedModel, std::move(messages) };
}

QByteArray Chat::encode() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

std::optional<Chat> Chat::decode(const QByteArray &bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return fromJson(document.object());
}

QString Chat::titleFrom(const QString &text)
{
    const QStringList lines = text.split(u'\n', Qt::SkipEmptyParts);
    const QString firstLine = lines.isEmpty() ? QString() : lines.first();
    const QString title = TextUtil::graphemeLeft(firstLine, 40).trimmed();
    return title.isEmpty() ? QStringLiteral("Image") : title;
}

namespace RecordCodec {

QString cutCode(AnswerCut cut)
{
    switch (cut) {
    case AnswerCut::length:
        return QStringLiteral("length");
    case AnswerCut::filter:
        return QStringLiteral("filter");
    case AnswerCut::connection:
        return QStringLiteral("connection");
    }
    return {};
}

std::optional<AnswerCut> parseCutCode(const QString &code)
{
    for (AnswerCut cut : { AnswerCut::length, AnswerCut::filter, AnswerCut::connection }) {
        if (code == cutCode(cut))
            return cut;
    }
    return std::nullopt;
}

QString uuidText(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> parseUuid(const QString &text)
{
    if (text.size() != 36)
        return std::nullopt;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        const bool hyphenPlace = i == 8 || i == 13 || i == 18 || i == 23;
        const bool hex = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        if (hyphenPlace ? c != u'-' : !hex)
            return std::nullopt;
    }
    // The text is well-formed, so a null result is the nil UUID itself.
    return QUuid::fromString(text);
}

QByteArray encodeSummaries(const QList<ChatSummary> &summaries)
{
    QJsonArray array;
    for (const ChatSummary &summary : summaries)
        array.append(summary.toJson());
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<ChatSummary>> decodeSummaries(const QByteArray &bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QList<ChatSummary> summaries;
    const QJsonArray array = document.array();
    summaries.reserve(array.size());
    for (const QJsonValue &value : array) {
        if (!value.isObject())
            return std::nullopt;
        auto summary = ChatSummary::fromJson(value.toObject());
        if (!summary)
            return std::nullopt;
        summaries.append(std::move(*summary));
    }
    return summaries;
}

} // namespace RecordCodec
