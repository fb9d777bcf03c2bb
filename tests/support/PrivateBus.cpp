#include "PrivateBus.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace fernpoint::test {
namespace {

QString configuration(const QString& socketPath, const PrivateBus::Options& options) {
    QString xml =
        QStringLiteral(
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig>\n"
            "  <type>fernpoint-test</type>\n"
            "  <listen>unix:path=%1</listen>\n"
            "  <auth>EXTERNAL</auth>\n")
            .arg(socketPath.toHtmlEscaped());
    for (const QString& dir : options.serviceDirectories)
        xml += QStringLiteral("  <servicedir>%1</servicedir>\n").arg(dir.toHtmlEscaped());
    if (options.systemLikePolicy) {
        // The same defaults as the machine's system bus: deny sending and owning unless a
        // policy allows it; replies always pass.
        xml += QStringLiteral(
            "  <policy context=\"default\"><allow user=\"*\"/><deny own=\"*\"/>\n"
            "    <deny send_type=\"method_call\"/><allow send_type=\"signal\"/>\n"
            "    <allow send_requested_reply=\"true\" send_type=\"method_return\"/>\n"
            "    <allow send_requested_reply=\"true\" send_type=\"error\"/>\n"
            "    <allow receive_type=\"method_call\"/><allow receive_type=\"method_return\"/>\n"
            "    <allow receive_type=\"error\"/><allow receive_type=\"signal\"/>\n"
            "    <allow send_destination=\"org.freedesktop.DBus\"\n"
            "           send_interface=\"org.freedesktop.DBus\"/>\n"
            "    <allow send_destination=\"org.freedesktop.DBus\"\n"
            "           send_interface=\"org.freedesktop.DBus.Introspectable\"/>\n"
            "    <allow send_destination=\"org.freedesktop.DBus\"\n"
            "           send_interface=\"org.freedesktop.DBus.Peer\"/></policy>\n"
            "  <policy user=\"root\"><allow send_destination=\"org.freedesktop.DBus\"\n"
            "           send_interface=\"org.freedesktop.DBus.Monitoring\"/></policy>\n");
    } else {
        xml +=
            QStringLiteral("  <policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>\n"
                           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                           "    <allow eavesdrop=\"true\"/></policy>\n");
    }
    for (const QString& file : options.includedConfigFiles)
        xml += QStringLiteral("  <include>%1</include>\n").arg(file.toHtmlEscaped());
    xml += QStringLiteral("</busconfig>\n");
    return xml;
}

} // namespace

PrivateBus::PrivateBus()
    : PrivateBus(Options{}) {}

PrivateBus::PrivateBus(const Options& options)
    // Socket paths are limited to about 100 bytes, so the folder lives directly in /tmp.
    : m_dir(QStringLiteral("/tmp/fernpoint-bus-XXXXXX")) {
    if (!m_dir.isValid())
        return;
    // The daemon may run clients as other users (the security tests); they must reach the socket.
    QFile::setPermissions(
        m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                          QFileDevice::ReadOther | QFileDevice::ExeOther | QFileDevice::WriteOther |
                          QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup);
    const QString socketPath = m_dir.filePath(QStringLiteral("bus"));
    const QString configPath = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly))
        return;
    config.write(configuration(socketPath, options).toUtf8());
    config.close();
    m_configPath = configPath;
    launch();
}

bool PrivateBus::launch() {
    m_address.clear();
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty() || m_configPath.isEmpty())
        return false;
    m_daemon = std::make_unique<QProcess>();
    m_daemon->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_daemon->start(daemon, {QStringLiteral("--config-file=") + m_configPath,
                             QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!m_daemon->waitForStarted(5000))
        return false;
    QDeadlineTimer deadline(10000);
    while (!m_daemon->canReadLine() && !deadline.hasExpired() &&
           m_daemon->state() == QProcess::Running)
        m_daemon->waitForReadyRead(100);
    if (m_daemon->canReadLine())
        m_address = QString::fromUtf8(m_daemon->readLine()).trimmed();
    return isRunning();
}

bool PrivateBus::restart() {
    kill();
    // The daemon replaces the stale socket file the killed one left behind.
    return launch();
}

PrivateBus::~PrivateBus() {
    if (m_daemon && m_daemon->state() != QProcess::NotRunning) {
        m_daemon->terminate();
        if (!m_daemon->waitForFinished(3000)) {
            m_daemon->kill();
            m_daemon->waitForFinished(3000);
        }
    }
}

bool PrivateBus::isRunning() const {
    return m_daemon && m_daemon->state() == QProcess::Running && !m_address.isEmpty();
}

void PrivateBus::kill() {
    if (m_daemon && m_daemon->state() != QProcess::NotRunning) {
        m_daemon->kill();
        m_daemon->waitForFinished(3000);
    }
}

TemporaryHome::TemporaryHome() {
    const QList<QByteArray> names = {"HOME",           "XDG_DATA_HOME",  "XDG_CONFIG_HOME",
                                     "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"};
    for (const QByteArray& name : names)
        m_saved.append({name, qgetenv(name.constData())});
    const QString home = m_dir.path();
    for (const char* folder : {".local/share", ".config", ".cache", ".local/state", "runtime"})
        QDir(home).mkpath(QString::fromLatin1(folder));
    QFile::setPermissions(home + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_DATA_HOME", dataHome().toUtf8());
    qputenv("XDG_CONFIG_HOME", configHome().toUtf8());
    qputenv("XDG_CACHE_HOME", (home + QStringLiteral("/.cache")).toUtf8());
    qputenv("XDG_STATE_HOME", (home + QStringLiteral("/.local/state")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", (home + QStringLiteral("/runtime")).toUtf8());
}

TemporaryHome::~TemporaryHome() {
    for (const auto& [name, value] : m_saved) {
        if (value.isNull())
            qunsetenv(name.constData());
        else
            qputenv(name.constData(), value);
    }
}

QString TemporaryHome::dataHome() const {
    return m_dir.path() + QStringLiteral("/.local/share");
}

QString TemporaryHome::configHome() const {
    return m_dir.path() + QStringLiteral("/.config");
}

} // namespace fernpoint::test
