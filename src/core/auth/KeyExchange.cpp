#include "core/auth/KeyExchange.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

namespace KeyExchange {

namespace {

constexpr qsizetype quotedBodyBytes = 500;

QString rejectionText(const QJsonObject &object, const QByteArray &body)
{
    const QJsonValue message
        = object.value(QStringLiteral("error")).toObject().value(QStringLiteral("message"));
    if (message.isString())
        return message.toString();
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(body.left(quotedBodyBytes));
    return decoder.hasError() ? QString() : text;
}

} // namespace

QByteArray requestBody(const QString &code, const QString &verifier)
{
    const QJsonObject body{
        { QStringLiteral("code"), code },
        { QStringLiteral("code_verifier"), verifier },
        { QStringLiteral("code_challenge_method"), QStringLiteral("S256") },
    };
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

Outcome<QString, ORError> readAnswer(int status, const QByteArray &body)
{
    const QJsonObject object = QJsonDocument::fromJson(body).object();
    const QJsonValue key = object.value(QStringLiteral("key"));
    if (status >= 200 && status <= 299 && key.isString() && !key.toString().isEmpty())
        return key.toString();
    return ORError::exchangeRejected(status, rejectionText(object, body));
}

} // namespace KeyExchange
