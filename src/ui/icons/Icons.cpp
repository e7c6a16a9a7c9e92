#include "ui/icons/Icons.h"

#include "ui/icons/TintedIconEngine.h"

#include <QDir>
#include <QFile>

// Resources of a static library are registered only when asked for by name,
// and Q_INIT_RESOURCE may not be used inside a namespace.
static void registerBundledIcons()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(tolvi_icons);
        return true;
    }();
    Q_UNUSED(registered);
}

namespace Icons {

namespace {

const QString root = QStringLiteral(":/tolvi-icons");
const QList<int> symbolSizes{ 16, 22, 24, 32, 48, 64 };
const QList<int> appSizes{ 16, 22, 24, 32, 48, 64, 128, 256 };

QIcon iconFromFiles(const QString &folder, const QList<int> &sizes)
{
    QIcon icon;
    for (int size : sizes)
        icon.addFile(QStringLiteral("%1/%2.png").arg(folder).arg(size), QSize(size, size));
    return icon;
}

} // namespace

QIcon bundledSymbol(const char *themeName)
{
    registerBundledIcons();
    const QString name = QString::fromLatin1(themeName);
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return QIcon();
    const QString symbolic = root + QStringLiteral("/symbolic/") + name;
    if (QFile::exists(symbolic + QStringLiteral("/16.png")))
        return QIcon(new TintedIconEngine(symbolic, symbolSizes));
    const QString coloured = root + QStringLiteral("/color/") + name;
    if (QFile::exists(coloured + QStringLiteral("/16.png")))
        return iconFromFiles(coloured, symbolSizes);
    return QIcon();
}

QIcon symbol(const char *themeName)
{
    // hicolor is where Qt looks when the desktop names no theme: it holds
    // applications' icons, not symbols, and reading its index alone costs
    // several milliseconds of start-up.
    const QString theme = QIcon::themeName();
    if (theme.isEmpty() || theme == QLatin1String("hicolor"))
        return bundledSymbol(themeName);
    return QIcon::fromTheme(QString::fromLatin1(themeName), bundledSymbol(themeName));
}

QStringList bundledSymbolNames()
{
    registerBundledIcons();
    QStringList names;
    for (const char *kind : { "/symbolic", "/color" })
        names += QDir(root + QLatin1String(kind)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

QIcon app()
{
    registerBundledIcons();
    return iconFromFiles(root + QStringLiteral("/app"), appSizes);
}

} // namespace Icons
