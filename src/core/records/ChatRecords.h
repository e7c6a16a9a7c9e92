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

struct ChatMessage {
    QUuid id = QUuid::createUuid();
    QString role; // "user" or "assistant"
    QString text;
    QStringList images; // image data URLs
    std::optional<QString> answeredBy;
    std::optional<QString> note;

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
// 36 upper-case characters without braces.
QString uuidText(const QUuid &id);
// Accepts only the 36-character form, either case.
std::optional<QUuid> parseUuid(const QString &text);

QByteArray encodeSummaries(const QList<ChatSummary> &summaries);
std::optional<QList<ChatSummary>> decodeSummaries(const QByteArray &bytes);
} // namespace RecordCodec
