#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace fernpoint::test {

// A dbus-daemon of the test's own, on a socket in a temporary folder. It is stopped when the
// object goes away. Nothing here touches the machine's own buses.
class PrivateBus {
public:
    struct Options {
        // Folders the daemon reads D-Bus activation files (*.service) from.
        QStringList serviceDirectories;
        // Extra configuration files included into the bus configuration (bus policies).
        QStringList includedConfigFiles;
        // When false the bus allows everything (a plain test bus); when true only the included
        // policies plus the default-deny rules of a system bus apply.
        bool systemLikePolicy = false;
    };

    PrivateBus();
    explicit PrivateBus(const Options& options);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool isRunning() const;
    // The address clients connect to, e.g. "unix:path=/tmp/.../bus".
    const QString& address() const { return m_address; }
    // Stops the daemon at once (SIGKILL), as if it had crashed.
    void kill();
    // Kills the daemon if it still runs and starts a new one on the same socket path. The new
    // daemon has a new server GUID, so address() changes; an address without the "guid=" part
    // reaches either daemon.
    bool restart();

private:
    bool launch();

    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_daemon;
    QString m_address;
    QString m_configPath;
};

// Points HOME and the XDG folders at a temporary folder for as long as it lives, and restores
// them afterwards.
class TemporaryHome {
public:
    TemporaryHome();
    ~TemporaryHome();
    TemporaryHome(const TemporaryHome&) = delete;
    TemporaryHome& operator=(const TemporaryHome&) = delete;

    QString path() const { return m_dir.path(); }
    QString dataHome() const;   // XDG_DATA_HOME
    QString configHome() const; // XDG_CONFIG_HOME

private:
    QTemporaryDir m_dir;
    QList<QPair<QByteArray, QByteArray>> m_saved;
};

} // namespace fernpoint::test
