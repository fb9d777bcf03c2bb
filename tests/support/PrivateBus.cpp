#include "PrivateBus.h"

#include <QDir>
#include <QFile>

namespace fernpoint::test {

PrivateBus::PrivateBus(const QString& serviceFolder)
    // Socket paths are limited to about 100 bytes, so the folder lives directly in /tmp.
    : m_dir(QStringLiteral("/tmp/fernpoint-bus-XXXXXX")) {
    // Clients may run as other users; they must reach the socket.
    QFile::setPermissions(m_dir.path(), QFileDevice::Permissions(0x7777));
    const QString services =
        serviceFolder.isEmpty()
            ? QString()
            : QStringLiteral("<servicedir>%1</servicedir>").arg(serviceFolder.toHtmlEscaped());
    QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
    if (!config.open(QIODevice::WriteOnly))
        return;
    config.write(
        QStringLiteral("<busconfig><type>fernpoint-test</type><listen>unix:path=%1</listen>"
                       "<auth>EXTERNAL</auth>%2<policy context=\"default\"><allow user=\"*\"/>"
                       "<allow own=\"*\"/><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                       "<allow eavesdrop=\"true\"/></policy></busconfig>\n")
            .arg(m_dir.filePath(QStringLiteral("bus")).toHtmlEscaped(), services)
            .toUtf8());
    config.close();
    restart();
}

bool PrivateBus::restart() {
    kill();
    // The daemon replaces the stale socket file a killed one left behind.
    m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--config-file=") + m_dir.filePath(QStringLiteral("bus.conf")),
                    QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    m_address.clear();
    if (m_daemon.waitForStarted(5000))
        while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(10000))
            ;
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    return isRunning();
}

bool PrivateBus::isRunning() const {
    return m_daemon.state() == QProcess::Running && !m_address.isEmpty();
}

void PrivateBus::kill() {
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.kill();
        m_daemon.waitForFinished(3000);
    }
}

QProcessEnvironment systemBusEnvironment(const QString& busAddress) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!busAddress.isEmpty())
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), busAddress);
    environment.remove(QStringLiteral("DBUS_STARTER_ADDRESS"));
    return environment;
}

TemporaryHome::TemporaryHome() {
    const QString home = m_dir.path();
    const std::pair<const char*, const char*> variables[] = {{"HOME", ""},
                                                             {"XDG_DATA_HOME", "/.local/share"},
                                                             {"XDG_CONFIG_HOME", "/.config"},
                                                             {"XDG_CACHE_HOME", "/.cache"},
                                                             {"XDG_STATE_HOME", "/.local/state"},
                                                             {"XDG_RUNTIME_DIR", "/runtime"}};
    for (const auto& [name, folder] : variables) {
        m_saved.append({name, qgetenv(name)});
        QDir().mkpath(home + QLatin1StringView(folder));
        qputenv(name, (home + QLatin1StringView(folder)).toUtf8());
    }
    QFile::setPermissions(home + QStringLiteral("/runtime"), QFileDevice::Permissions(0x7700));
}

TemporaryHome::~TemporaryHome() {
    for (const auto& [name, value] : m_saved) {
        if (value.isNull())
            qunsetenv(name.constData());
        else
            qputenv(name.constData(), value);
    }
}

} // namespace fernpoint::test
