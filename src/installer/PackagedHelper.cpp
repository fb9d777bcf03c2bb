#include "PackagedHelper.h"

#include "HelperContract.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

namespace fernpoint {
namespace {

// Why the entry is not a regular file that only root can change; empty when it is. A symbolic
// link is refused: whoever owns its target decides what runs.
QString rootOnlyFileProblem(const QString& path, unsigned rootUid) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return path + QStringLiteral(" does not exist");
    if (!S_ISREG(info.st_mode))
        return path + QStringLiteral(" is not a regular file");
    if (info.st_uid != rootUid)
        return path + QStringLiteral(" does not belong to root");
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return path + QStringLiteral(" is writable by others than root");
    return QString();
}

bool entryExists(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

// The values of a key in the [D-BUS Service] section of an activation file.
QStringList serviceValues(const QByteArray& content, QByteArrayView key) {
    QStringList values;
    bool inSection = false;
    for (const QByteArray& rawLine : content.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.startsWith('['))
            inSection = line == "[D-BUS Service]";
        const qsizetype equals = line.indexOf('=');
        if (inSection && equals > 0 && line.left(equals).trimmed() == key)
            values.append(QString::fromUtf8(line.mid(equals + 1).trimmed()));
    }
    return values;
}

} // namespace

PackagedHelper::System PackagedHelper::System::current() {
    System system;
    const QString bus = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
    if (!bus.isEmpty() && bus != QLatin1StringView("unix:path=/run/dbus/system_bus_socket") &&
        bus != QLatin1StringView("unix:path=/var/run/dbus/system_bus_socket"))
        system.privateSystemBus = bus;
    return system;
}

QString PackagedHelper::problem(const System& system) {
    if (system.privateSystemBus)
        return QStringLiteral("the system bus is a private one: ") + *system.privateSystemBus;
    const QDir root(system.root);
    const QString busName = contract::kBusName;
    const QString activationFile = root.filePath(
        QStringLiteral("usr/share/dbus-1/system-services/") + busName + QStringLiteral(".service"));
    if (QString problem = rootOnlyFileProblem(activationFile, system.rootUid); !problem.isEmpty())
        return problem;
    QFile file(activationFile);
    const QByteArray content = file.open(QIODevice::ReadOnly) ? file.read(64 * 1024) : QByteArray();
    if (serviceValues(content, "Name") != QStringList{busName} ||
        serviceValues(content, "Exec") != QStringList{kProgram})
        return activationFile + QStringLiteral(" does not start ") + kProgram;
    if (QString problem = rootOnlyFileProblem(root.filePath(kProgram.mid(1)), system.rootUid);
        !problem.isEmpty())
        return problem;
    // A copy the application installed itself is found first by the bus and by systemd.
    for (const QString& override :
         {QStringLiteral("usr/local/share/dbus-1/system-services/") + busName +
              QStringLiteral(".service"),
          QStringLiteral("etc/systemd/system/fernpoint-helper.service")}) {
        if (entryExists(root.filePath(override)))
            return root.filePath(override) + QStringLiteral(" wins over the package's helper");
    }
    return QString();
}

} // namespace fernpoint
