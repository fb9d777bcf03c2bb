#include "HelperInstallation.h"

#include "AtomicFileStager.h"
#include "HelperBuildInfo.h"
#include "SystemFiles.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstring>
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

} // namespace

HelperInstallation::HelperInstallation(const InstallLayout& layout)
    : m_layout(layout) {}

bool HelperInstallation::install(int programFd) {
    const QString program = m_layout.programPath();
    struct File {
        QString path;
        QString generatedName;
    };
    // The activation file comes last: the bus offers the helper only once everything it needs
    // is in place.
    const QList<File> files = {
        {m_layout.busPolicyPath(), QStringLiteral("%1.conf").arg(contract::kBusName)},
        {m_layout.polkitActionPath(), QStringLiteral("%1.policy").arg(contract::kBusName)},
        {m_layout.systemdUnitPath(), QString(build::kHelperUnit)},
        {m_layout.activationFilePath(), QStringLiteral("%1.service").arg(contract::kBusName)},
    };

    AtomicFileStager stager;
    if (!stager.stageCopy(program, programFd, 0755)) {
        m_error = stager.error();
        return false;
    }
    for (const File& file : files) {
        const QByteArray content = SystemFiles::content(file.generatedName, program);
        if (content.isEmpty()) {
            m_error =
                QStringLiteral("the helper lacks its built-in file %1").arg(file.generatedName);
            return false;
        }
        if (!stager.stageContent(file.path, content, 0644)) {
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
    const QStringList files = {m_layout.activationFilePath(), m_layout.systemdUnitPath(),
                               m_layout.busPolicyPath(), m_layout.polkitActionPath(),
                               m_layout.programPath()};
    for (const QString& path : files) {
        if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT) {
            m_error = QStringLiteral("cannot remove %1: %2")
                          .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    // Our own folder only, and only when empty.
    ::rmdir(QFile::encodeName(QFileInfo(m_layout.programPath()).path()).constData());
    return true;
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

    if (!stopRunningHelper)
        return warnings;
    QDBusMessage pidCall = busDaemonCall(QStringLiteral("GetConnectionUnixProcessID"));
    pidCall << QString(contract::kBusName);
    const QDBusMessage pidReply = bus.call(pidCall, QDBus::Block, kBusCallTimeoutMs);
    if (pidReply.type() != QDBusMessage::ReplyMessage)
        return warnings; // no helper runs
    const auto pid = static_cast<pid_t>(pidReply.arguments().value(0).toUInt());
    if (pid <= 1 || pid == ::getpid())
        return warnings;
    if (::kill(pid, SIGTERM) != 0) {
        warnings << QStringLiteral("cannot stop the running helper (process %1): %2")
                        .arg(pid)
                        .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return warnings;
    }
    // Wait a little, so that the caller's next call reaches the new program, not the old one.
    QDeadlineTimer deadline(5000);
    while (nameHasOwner(bus) && !deadline.hasExpired())
        QThread::msleep(50);
    if (nameHasOwner(bus))
        warnings << QStringLiteral("the running helper (process %1) has not exited yet").arg(pid);
    return warnings;
}

} // namespace fernpoint
