#include "RootOnlyProgram.h"

#include <QFile>
#include <QStringList>

#include <sys/stat.h>

namespace fernpoint {
namespace {

QString problemOf(const QString& path, bool isProgram) {
    struct stat info = {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return QStringLiteral("%1 does not exist").arg(path);
    if (S_ISLNK(info.st_mode))
        return QStringLiteral("%1 is a symbolic link").arg(path);
    if (isProgram ? !S_ISREG(info.st_mode) : !S_ISDIR(info.st_mode))
        return QStringLiteral("%1 is not a %2")
            .arg(path, isProgram ? QStringLiteral("file") : QStringLiteral("folder"));
    if (info.st_uid != 0)
        return QStringLiteral("%1 belongs to user %2, not root").arg(path).arg(info.st_uid);
    const bool othersMayWrite = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (othersMayWrite && (isProgram || !(info.st_mode & S_ISVTX)))
        return QStringLiteral("group or others may write to %1").arg(path);
    return QString();
}

} // namespace

QString rootOnlyProgramProblem(const QString& program) {
    if (!program.startsWith(QLatin1Char('/')))
        return QStringLiteral("refusing to run %1 as root: it is not an absolute path")
            .arg(program);
    const QStringList names = program.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString path = QStringLiteral("/");
    QString problem = problemOf(path, false);
    for (qsizetype i = 0; i < names.size() && problem.isEmpty(); ++i) {
        path = i == 0 ? path + names.at(i) : path + QLatin1Char('/') + names.at(i);
        problem = problemOf(path, i + 1 == names.size());
    }
    return problem.isEmpty()
               ? QString()
               : QStringLiteral("refusing to run %1 as root: %2").arg(program, problem);
}

} // namespace fernpoint
