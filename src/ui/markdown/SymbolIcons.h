#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

// Symbol icons by freedesktop theme name. A minimal desktop has no icon
// theme, so "edit-copy" and "object-select" fall back to simple drawings in
// the given colour.
namespace SymbolIcons {

QIcon icon(const QString &themeName, const QColor &color);

} // namespace SymbolIcons
