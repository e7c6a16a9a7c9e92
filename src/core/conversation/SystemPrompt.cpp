#include "core/conversation/SystemPrompt.h"

#include <QSettings>

namespace SystemPrompt {

static QSettings settings()
{
    return QSettings(QStringLiteral("Tolvi"), QStringLiteral("Tolvi"));
}

QString read()
{
    return settings().value(settingsKey).toString();
}

void write(const QString &prompt)
{
    settings().setValue(settingsKey, prompt);
}

} // namespace SystemPrompt
