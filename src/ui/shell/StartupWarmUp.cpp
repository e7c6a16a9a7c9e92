#include "ui/shell/StartupWarmUp.h"

#include "ui/icons/Icons.h"

#include <QFontMetrics>
#include <QGuiApplication>

void warmUpFontsAndIcons()
{
    // Measuring a line loads the font database and the default font's engine.
    QFontMetrics(QGuiApplication::font()).height();
    Icons::symbol("document-new");
}
