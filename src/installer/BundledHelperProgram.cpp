#include "BundledHelperProgram.h"

#include <QDir>
#include <QFileInfo>

namespace fernpoint {

QString bundledHelperProgramPath(const QString& applicationDirectory) {
    const QDir dir(applicationDirectory);
    const QStringList candidates = {
        QDir::cleanPath(
            dir.absoluteFilePath(QStringLiteral("../libexec/fernpoint/fernpoint-helper"))),
        QDir::cleanPath(dir.absoluteFilePath(QStringLiteral("fernpoint-helper"))),
    };
    for (const QString& candidate : candidates) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return candidate;
    }
    return candidates.first();
}

} // namespace fernpoint
