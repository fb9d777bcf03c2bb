#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace fernpoint::test {

// A dbus-daemon of the test's own, on a socket in a temporary folder, that allows everything.
// It is stopped when the object goes away. Nothing here touches the machine's own buses.
class PrivateBus {
public:
    // serviceFolder: where the daemon reads D-Bus activation files (*.service) from, if anywhere.
    explicit PrivateBus(const QString& serviceFolder = {});
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool isRunning() const;
    // The address clients connect to, e.g. "unix:path=/tmp/.../bus,guid=...".
    const QString& address() const { return m_address; }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
};

// This process's environment for a child whose system bus is at busAddress (empty: the one this
// process has, which the test runner makes unreachable).
QProcessEnvironment systemBusEnvironment(const QString& busAddress);

// Points HOME and the XDG folders at a temporary folder for as long as it lives, and restores
// them afterwards.
class TemporaryHome {
public:
    TemporaryHome();
    ~TemporaryHome();
    TemporaryHome(const TemporaryHome&) = delete;
    TemporaryHome& operator=(const TemporaryHome&) = delete;

    QString path() const { return m_dir.path(); }
    QString dataHome() const { return m_dir.path() + QStringLiteral("/.local/share"); }
    QString configHome() const { return m_dir.path() + QStringLiteral("/.config"); }

private:
    QTemporaryDir m_dir;
    QList<QPair<QByteArray, QByteArray>> m_saved;
};

} // namespace fernpoint::test
