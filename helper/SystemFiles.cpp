#include "SystemFiles.h"

#include "HelperBuildInfo.h"

#include <QFile>

namespace fernpoint {

QByteArray SystemFiles::content(const QString& fileName, const QString& installedProgramPath) {
    QFile file(QStringLiteral(":/system-files/") + fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QByteArray bytes = file.readAll();
    const QByteArray defaultPath = QString(build::kInstalledHelperPath).toUtf8();
    if (installedProgramPath != build::kInstalledHelperPath)
        bytes.replace(defaultPath, installedProgramPath.toUtf8());
    return bytes;
}

} // namespace fernpoint
