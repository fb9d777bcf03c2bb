#include "HelperInstallation.h"

#include "AtomicFileStager.h"
#include "FolderHandle.h"
#include "HelperBuildInfo.h"
#include "SystemFiles.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fernpoint {
namespace {

constexpr int kBusCallTimeoutMs = 10000;

QDBusMessage busDaemonCall(const QString& method) {
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                          QStringLiteral("/org/freedesktop/DBus"),
                                          QStringLiteral("org.freedesktop.DBus"), method);
}

bool systemdIsRunning() {
    struct stat info = {};
    return ::lstat("/run/systemd/system", &info) == 0 && S_ISDIR(info.st_mode);
}

bool nameHasOwner(QDBusConnection& bus) {
    QDBusMessage call = busDaemonCall(QStringLiteral("NameHasOwner"));
    call << QString(contract::kBusName);
    const QDBusMessage reply = bus.call(call, QDBus::Block, kBusCallTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
}

QString folderOf(const QString& relativePath) {
    return relativePath.section(QLatin1Char('/'), 0, -2);
}

QString nameOf(const QString& relativePath) {
    return relativePath.section(QLatin1Char('/'), -1);
}

} // namespace

HelperInstallation::HelperInstallation(const InstallLayout& layout)
    : m_layout(layout) {}

bool HelperInstallation::install(int programFd) {
    if (isPackaged()) {
        m_error = QStringLiteral("the helper here belongs to the system's fernpoint package (%1); "
                                 "update it with the package manager")
                      .arg(m_layout.packagedActivationFilePath());
        return false;
    }
    const QString program = m_layout.programPath();
    struct File {
        QString path;
        QString generatedName; // empty: the program itself
    };
    // The activation file comes last: the bus offers the helper only once everything it needs
    // is in place.
    const QList<File> files = {
        {program, QString()},
        {m_layout.busPolicyPath(), QStringLiteral("%1.conf").arg(contract::kBusName)},
        {m_layout.polkitActionPath(), QStringLiteral("%1.policy").arg(contract::kBusName)},
        {m_layout.systemdUnitPath(), QString(build::kHelperUnit)},
        {m_layout.activationFilePath(), QStringLiteral("%1.service").arg(contract::kBusName)},
    };

    const FolderHandle root = FolderHandle::openRoot(rootPath(), m_error);
    if (!root.isValid())
        return fail(rootPath());
    AtomicFileStager stager;
    for (const File& file : files) {
        const QString relative = m_layout.relativePath(file.path);
        const FolderHandle folder = root.openBelow(folderOf(relative), true, m_error);
        if (!folder.isValid())
            return fail(file.path);
        bool staged = false;
        if (file.generatedName.isEmpty()) {
            staged = stager.stageCopy(folder, nameOf(relative), programFd, 0755);
        } else {
            const QByteArray content = SystemFiles::content(file.generatedName, program);
            if (content.isEmpty()) {
                m_error =
                    QStringLiteral("the helper lacks its built-in file %1").arg(file.generatedName);
                return false;
            }
            staged = stager.stageContent(folder, nameOf(relative), content, 0644);
        }
        if (!staged) {
            m_error = stager.error();
            return false;
        }
    }
    if (!stager.commit()) {
        m_error = stager.error();
        return false;
    }
    return true;
}

bool HelperInstallation::uninstall() {
    // The activation file goes first, so the bus stops offering the helper before it is gone.
    QStringList files = {m_layout.activationFilePath(), m_layout.systemdUnitPath(),
                         m_layout.busPolicyPath(), m_layout.polkitActionPath(),
                         m_layout.programPath()};
    // The polkit action's path is the package's file too: a local copy goes, the package stays.
    if (isPackaged())
        files.removeOne(m_layout.polkitActionPath());
    const FolderHandle root = FolderHandle::openRoot(rootPath(), m_error);
    if (!root.isValid())
        return m_error.isEmpty() || fail(rootPath()); // no root: nothing to remove
    for (const QString& path : files) {
        const QString relative = m_layout.relativePath(path);
        const FolderHandle folder = root.openBelow(folderOf(relative), false, m_error);
        if (!folder.isValid()) {
            if (m_error.isEmpty())
                continue; // its folder is gone, and the file with it
            return fail(path);
        }
        if (::unlinkat(folder.fd(), QFile::encodeName(nameOf(relative)).constData(), 0) != 0 &&
            errno != ENOENT) {
            m_error = QStringLiteral("cannot remove %1: %2")
                          .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    // Our own folder only, and only when empty.
    const QString programFolder = folderOf(m_layout.relativePath(m_layout.programPath()));
    QString ignored;
    const FolderHandle parent = root.openBelow(folderOf(programFolder), false, ignored);
    if (parent.isValid())
        ::unlinkat(parent.fd(), QFile::encodeName(nameOf(programFolder)).constData(), AT_REMOVEDIR);
    m_error.clear();
    return true;
}

QString HelperInstallation::rootPath() const {
    return m_layout.root().isEmpty() ? QStringLiteral("/") : m_layout.root();
}

bool HelperInstallation::isPackaged() const {
    struct stat info = {};
    return ::lstat(QFile::encodeName(m_layout.packagedActivationFilePath()).constData(), &info) ==
           0;
}

bool HelperInstallation::fail(const QString& path) {
    if (m_error.isEmpty())
        m_error = QStringLiteral("cannot write %1: a folder on the way is missing").arg(path);
    return false;
}

QStringList HelperInstallation::announceChange(QDBusConnection& bus, bool stopRunningHelper) {
    QStringList warnings;
    if (!bus.isConnected())
        return {
            QStringLiteral("cannot reach the system bus; it will pick up the files on its own")};

    if (m_layout.isSystemRoot() && systemdIsRunning()) {
        const QDBusMessage reply = bus.call(
            QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.systemd1"),
                                           QStringLiteral("/org/freedesktop/systemd1"),
                                           QStringLiteral("org.freedesktop.systemd1.Manager"),
                                           QStringLiteral("Reload")),
            QDBus::Block, 60000);
        if (reply.type() != QDBusMessage::ReplyMessage)
            warnings << QStringLiteral("systemd did not reload its units: ") + reply.errorMessage();
    }

    const QDBusMessage reload =
        bus.call(busDaemonCall(QStringLiteral("ReloadConfig")), QDBus::Block, kBusCallTimeoutMs);
    if (reload.type() != QDBusMessage::ReplyMessage)
        warnings << QStringLiteral("the bus did not reload its configuration: ") +
                        reload.errorMessage();

    if (!stopRunningHelper || !nameHasOwner(bus))
        return warnings;
    // Under systemd the unit is stopped; any helper of this version also ends on its own once
    // its program file was replaced or removed. No process is ever signalled by its number.
    if (m_layout.isSystemRoot() && systemdIsRunning()) {
        QDBusMessage stop = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.systemd1"), QStringLiteral("/org/freedesktop/systemd1"),
            QStringLiteral("org.freedesktop.systemd1.Manager"), QStringLiteral("StopUnit"));
        stop << QString(build::kHelperUnit) << QStringLiteral("replace");
        const QDBusMessage reply = bus.call(stop, QDBus::Block, kBusCallTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage)
            warnings << QStringLiteral("systemd did not stop the running helper: ") +
                            reply.errorMessage();
    }
    // Wait a little, so that the caller's next call reaches the new program, not the old one.
    QDeadlineTimer deadline(5000);
    while (nameHasOwner(bus) && !deadline.hasExpired())
        QThread::msleep(50);
    if (nameHasOwner(bus))
        warnings << QStringLiteral("a helper started earlier still runs the old program; it is "
                                   "replaced when it ends (systemctl restart %1)")
                        .arg(build::kHelperUnit);
    return warnings;
}

} // namespace fernpoint
