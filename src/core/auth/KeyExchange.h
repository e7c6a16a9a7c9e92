#pragma once

#include "core/service/ORError.h"
#include "core/util/Outcome.h"

#include <QByteArray>
#include <QString>

// The key exchange's request body and the reading of its answer.
namespace KeyExchange {

// {"code","code_verifier","code_challenge_method":"S256"}, compact JSON.
QByteArray requestBody(const QString &code, const QString &verifier);

// The key of a 2xx answer whose "key" is a non-empty string; otherwise
// exchangeRejected with the status and the server's "error"."message", or
// the first 500 bytes of the body as UTF-8 ("" when they are not UTF-8).
Outcome<QString, ORError> readAnswer(int status, const QByteArray &body);

} // namespace KeyExchange
