#pragma once

#include <QString>

// The user's system prompt, kept in the settings ("Tolvi"/"Tolvi", key
// "systemPrompt"). Absent reads as the empty text.
namespace SystemPrompt {

inline const QString settingsKey = QStringLiteral("systemPrompt");

QString read();
void write(const QString &prompt);

} // namespace SystemPrompt
