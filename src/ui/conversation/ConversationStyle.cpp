#include "ui/conversation/ConversationStyle.h"

#include "ui/icons/Icons.h"

#include <QPainter>
#include <QPixmap>

namespace ConversationStyle {

QFont callout(const QFont &base)
{
    QFont font = base;
    font.setPixelSize(12);
    return font;
}

QFont caption(const QFont &base)
{
    QFont font = base;
    font.setPixelSize(11);
    return font;
}

QIcon tintedSymbol(const char *themeName, const QColor &color, int size)
{
    const QIcon source = Icons::symbol(themeName);
    QIcon tinted;
    for (qreal scale : { 1.0, 2.0 }) {
        QPixmap pixmap = source.pixmap(QSize(size, size), scale);
        if (pixmap.isNull())
            continue;
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), color);
        painter.end();
        tinted.addPixmap(pixmap);
    }
    return tinted;
}

} // namespace ConversationStyle
