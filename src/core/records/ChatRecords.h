#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

// The conversation records and their JSON form. Member names are the field
// names; UUIDs are written upper-case without braces; dates as seconds since
// 2001-01-01 UTC (see DateCodec).

// Why an answer ended before it was whole. Stored as a code ("length",
// "filter", "connection"), never as words, so that any reader can say it in
// its own words and language.
enum class AnswerCut {
    length, // the model's output limit cut it
    filter, // the provider's content filter stopped it
    connection, // the stream ended before the service said the answer was complete
};

struct ChatMessage {
    QUuid id = QUuid::createUuid();
    QString role; // "user" or "assistant"
    QString text;
    QStringList images; // image data URLs
    std::optional<QString> answeredBy;
    std::optional<QString> note;
    // Members added later; each is optional in the file, and a value of the
    // wrong type reads as absent rather than losing the message.
    std::optional<AnswerCut> cut = std::nullopt;
    // The model's reasoning before its answer, as it streamed; shown, never
    // sent back to a model.
    std::optional<QString> reasoning = std::nullopt;
    // From the first reasoning to the first text of the answer; absent while
    // the model is still reasoning.
    std::optional<double> reasoningSeconds = std::nullopt;
    // The identifier of the model that served the answer (the router's
    // answers name the model behind it), so that a cut answer can be
    // continued by the same model after a restart.
    std::optional<QString> modelId = std::nullopt;

    bool operator==(const ChatMessage &) const = default;

    QJsonObject toJson() const;
    static std::optional<ChatMessage> fromJson(const QJsonObject &object);
};

struct ChatSummary {
    QUuid id;
    QString title;
    QDateTime updated;

    bool operator==(const ChatSummary &) const = default;

    QJsonObject toJson() const;
    static std::optional<ChatSummary> fromJson(const QJsonObject &object);
};

// A chat has no equality of its own; compare ids.
struct Chat {
    QUuid id = QUuid::createUuid();
    QString title = QStringLiteral("New chat");
    QDateTime updated = QDateTime::currentDateTimeUtc();
    std::optional<QString> pinnedModel;
    QList<ChatMessage> messages;

    ChatSummary summary() const { return {id, title, updated}; }

    QJsonObject toJson() const;
    static std::optional<Chat> fromJson(const QJsonObject &object);

    // Compact JSON bytes of the whole chat, and the reverse (nothing when the
    // bytes are not a chat).
    QByteArray encode() const;
    static std::optional<Chat> decode(const QByteArray &bytes);

    // The title taken from the first message's text: first non-empty line,
    // at most 40 user-perceived characters, trimmed, "Image" when empty.
    static QString titleFrom(const QString &text);
};

namespace RecordCodec {
// "length", "filter", "connection"; nothing for any other text.
QString cutCode(AnswerCut cut);
std::optional<AnswerCut> parseCutCode(const QString &code);
// 36 upper-case characters without braces.
QString uuidText(const QUuid &id);
// Accepts only the 36-character form, either case.
std::optional<QUuid> parseUuid(const QString &text);

QByteArray encodeSummaries(const QList<ChatSummary> &summaries);
std::optional<QList<ChatSummary>> decodeSummaries(const QByteArray &bytes);
} // namespace RecordCodec
