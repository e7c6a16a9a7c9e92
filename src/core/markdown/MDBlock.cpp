#include "core/markdown/MDBlock.h"

#include <QDebug>

MDBlock MDBlock::code(const QString &lang, const QString &body)
{
    MDBlock block;
    block.kind = Kind::Code;
    block.lang = lang;
    block.body = body;
    return block;
}

MDBlock MDBlock::heading(int level, const QString &text)
{
    MDBlock block;
    block.kind = Kind::Heading;
    block.level = level;
    block.text = text;
    return block;
}

MDBlock MDBlock::bullet(const QString &marker, const QString &text, int indent)
{
    MDBlock block;
    block.kind = Kind::Bullet;
    block.marker = marker;
    block.text = text;
    block.indent = indent;
    return block;
}

MDBlock MDBlock::quote(const QString &text)
{
    MDBlock block;
    block.kind = Kind::Quote;
    block.text = text;
    return block;
}

MDBlock MDBlock::paragraph(const QString &text)
{
    MDBlock block;
    block.kind = Kind::Paragraph;
    block.text = text;
    return block;
}

QString MDBlock::describe() const
{
    switch (kind) {
    case MDBlock::Kind::Code:
        return QStringLiteral("code(lang=%1, body=%2)").arg(lang, body);
    case MDBlock::Kind::Heading:
        return QStringLiteral("heading(%1, %2)").arg(QString::number(level), text);
    case MDBlock::Kind::Bullet:
        return QStringLiteral("bullet(%1, %2, indent=%3)").arg(marker, text, QString::number(indent));
    case MDBlock::Kind::Quote:
        return QStringLiteral("quote(%1)").arg(text);
    case MDBlock::Kind::Paragraph:
        return QStringLiteral("paragraph(%1)").arg(text);
    }
    return {};
}

QDebug operator<<(QDebug debug, const MDBlock &block)
{
    QDebugStateSaver saver(debug);
    debug.noquote() << block.describe();
    return debug;
}
