#include "core/util/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace AppPaths {

QString dir()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::tempPath();
    const QString path = base + QStringLiteral("/Tolvi");
    QDir d(path);
    if (!d.exists() && QDir().mkpath(path))
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

} // namespace AppPaths
