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

} // namespace TextUtil
