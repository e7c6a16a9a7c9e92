#include "core/shell/FirstCloseHint.h"

#include <QSettings>

namespace {

const QString shownKey = QStringLiteral("trayHintShown");

QSettings settings()
{
    return QSettings(QStringLiteral("Tolvi"), QStringLiteral("Tolvi"));
}

} // namespace

namespace FirstCloseHint {

QString take(bool trayShowsMessages, bool hotKeyRegistered)
{
    if (!trayShowsMessages || settings().value(shownKey, false).toBool())
        return {};
    settings().setValue(shownKey, true);
    return hotKeyRegistered ? QStringLiteral(
               "Tolvi is still running. Click the tray icon or press Control-Alt-Space to bring it back.")
                            : QStringLiteral("Tolvi is still running. Click the tray icon to bring it back.");
}

} // namespace FirstCloseHint
