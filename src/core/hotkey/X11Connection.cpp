#include "core/hotkey/X11Connection.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <qguiapplication_platform.h>

xcb_connection_t *applicationX11Connection()
{
    auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    if (!app || QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto *x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}
