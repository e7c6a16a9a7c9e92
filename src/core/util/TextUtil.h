#pragma once

#include <QString>
#include <optional>

// Text helpers that count what a person sees as one character (a grapheme
// cluster), never UTF-16 code units.
namespace TextUtil {

// Number of user-perceived characters in text.
qsizetype graphemeCount(const QString &text);

// The first n user-perceived characters of text (all of it when shorter).
QString graphemeLeft(const QString &text, qsizetype n);

// True when bytes are well-formed UTF-8 (QString::fromUtf8 never fails).
bool isValidUtf8(const QByteArray &bytes);

// Decodes bytes as UTF-8, or nothing when they are not well-formed.
std::optional<QString> decodeUtf8(const QByteArray &bytes);

// Text from a person, a model or the service made fit for a tooltip, which
// Qt would otherwise render as HTML whenever the text looks like it (and
// load any image it names): escaped, and wrapped so that it is always read
// as markup and shows exactly as given, its spaces and line breaks kept and
// long lines wrapped.
QString plainToolTip(const QString &text);

} // namespace TextUtil
