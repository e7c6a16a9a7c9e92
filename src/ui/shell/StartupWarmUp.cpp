#include "ui/shell/StartupWarmUp.h"

#include "ui/icons/Icons.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <fontconfig/fontconfig.h>
#include <pthread.h>

FontConfigAhead::FontConfigAhead()
    : m_thread([] {
        pthread_setname_np(pthread_self(), "tolvi.fonts");
        FcInit();
    })
{
}

FontConfigAhead::~FontConfigAhead()
{
    finish();
}

void FontConfigAhead::finish()
{
    if (m_thread.joinable())
        m_thread.join();
}

void warmUpFontsAndIcons()
{
    // Measuring a line loads the font database and the default font's engine.
    QFontMetrics(QGuiApplication::font()).height();
    Icons::symbol("document-new");
}
