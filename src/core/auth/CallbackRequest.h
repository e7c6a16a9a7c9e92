#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <optional>

// Reading the browser's request to the loopback listener. Only the request
// line is looked at; headers and body are ignored.
namespace CallbackRequest {

using Query = QMap<QString, QString>;

// The request line's length limit: a request is judged by this many bytes.
inline constexpr qsizetype maxHeadBytes = 16384;

// True when head holds a whole request line (or reached the limit), so that
// it can be judged.
bool isComplete(const QByteArray &head);

// The query of a request for exactly "/callback" (any method), or nothing for
// anything else: no line end within the limit, not UTF-8, no target, an
// unparsable target, another path.
// Query items are percent-decoded; a later name replaces an earlier one; an
// item without "=" maps to "".
std::optional<Query> parse(const QByteArray &head);

// Whether the browser should be told that the sign-in went through: there is
// a non-empty "code" and no "error".
bool carriesCode(const Query &query);

} // namespace CallbackRequest
