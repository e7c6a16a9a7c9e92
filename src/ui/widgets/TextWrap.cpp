#include "ui/widgets/TextWrap.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTextLayout>
#include <cmath>

namespace TextWrap {
namespace {

// Lays text out in lines of width; returns the height of all lines.
qreal layOut(QTextLayout &layout, int width, Qt::Alignment alignment)
{
    QTextOption option(alignment);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal y = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLeadingIncluded(true);
        line.setLineWidth(qMax(1, width));
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
    return y;
}

// QTextLayout breaks lines only at a line separator, not at "\n".
QString withLineSeparators(QString text)
{
    return text.replace(QLatin1Char('\n'), QChar::LineSeparator);
}

} // namespace

QStringList lines(const QString &text, const QFont &font, int width)
{
    if (text.isEmpty())
        return {};
    QTextLayout layout(withLineSeparators(text), font);
    layOut(layout, width, Qt::AlignLeft);
    QStringList result;
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        QString piece = text.mid(line.textStart(), line.textLength());
        while (!piece.isEmpty() && piece.back().isSpace())
            piece.chop(1);
        result.append(piece);
    }
    return result;
}

int height(const QString &text, const QFont &font, int width)
{
    if (text.isEmpty())
        return 0;
    QTextLayout layout(withLineSeparators(text), font);
    return int(std::ceil(layOut(layout, width, Qt::AlignLeft)));
}

int naturalWidth(const QString &text, const QFont &font)
{
    const QFontMetrics metrics(font);
    int widest = 0;
    for (const QStringView line : QStringView(text).split(QLatin1Char('\n')))
        widest = qMax(widest, metrics.horizontalAdvance(line.toString()));
    return widest;
}

void draw(
    QPainter &painter, const QRect &rect, const QString &text, const QFont &font, Qt::Alignment alignment)
{
    if (text.isEmpty())
        return;
    QTextLayout layout(withLineSeparators(text), font);
    layOut(layout, rect.width(), alignment & Qt::AlignHorizontal_Mask);
    layout.draw(&painter, rect.topLeft());
}

} // namespace TextWrap
