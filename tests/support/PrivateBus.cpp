#include "PrivateBus.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

namespace fernpoint::test {

PrivateBus::PrivateBus(const QString& serviceFolder)
    // Socket paths are limited to about 100 bytes, so the folder lives directly in /tmp.
    : m_dir(u"/tmp/fernpoint-bus-XXXXXX"_s) {
    // Clients may run as other users; they must reach the socket.
    QFile::setPermissions(m_dir.path(), QFileDevice::Permissions(0x7777));
    QFile config(m_dir.filePath(u"bus.conf"_s));
    if (!config.open(QIODevice::WriteOnly))
        return;
    config.write(u"<busconfig><type>fernpoint-test</type><listen>unix:path=%1</listen>"
                 "<auth>EXTERNAL</auth><servicedir>%2</servicedir><policy context=\"default\">"
                 "<allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\" "
                 "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/></policy></busconfig>\n"_s
                     .arg(m_dir.filePath(u"bus"_s).toHtmlEscaped(),
                          (serviceFolder.isEmpty() ? m_dir.path() : serviceFolder).toHtmlEscaped())
                     .toUtf8());
    config.close();
    m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_daemon.start(u"dbus-daemon"_s, {u"--config-file="_s + config.fileName(), u"--nofork"_s,
                                      u"--print-address=1"_s});
    if (m_daemon.waitForStarted(5000))
        while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(10000))
            ;
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
}

PrivateBus::~PrivateBus() {
    m_daemon.kill();
    m_daemon.waitForFinished(3000);
}

bool PrivateBus::isRunning() const {
    return m_daemon.state() == QProcess::Running && !m_address.isEmpty();
}

QProcessEnvironment systemBusEnvironment(const QString& busAddress) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!busAddress.isEmpty())
        environment.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, busAddress);
    environment.remove(u"DBUS_STARTER_ADDRESS"_s);
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
    QFile::setPermissions(home + u"/runtime"_s, QFileDevice::Permissions(0x7700));
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
