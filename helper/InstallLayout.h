#pragma once

#include <QString>

#include <optional>

namespace fernpoint {

// Where the install step puts each file below a root folder. With the root "/" these are the
// places the machine's system bus, polkit and systemd actually read on Debian 12.
class InstallLayout final {
public:
    // root must already be checked with rootProblem().
    explicit InstallLayout(const QString& root);

    // Why a --root value cannot be used, or an empty text. The paths end up in Exec= lines, so
    // only characters those lines carry without quoting are allowed.
    static QString rootProblem(const QString& root);

    // The root of the installation a running helper program belongs to, when the program sits
    // where the install step puts it.
    static std::optional<QString> rootOfInstalledProgram(const QString& programPath);

    bool isSystemRoot() const { return m_systemRoot; }
    const QString& root() const { return m_root; }

    QString programPath() const;        // usr/local/libexec/fernpoint/fernpoint-helper
    QString activationFilePath() const; // usr/local/share/dbus-1/system-services/<name>.service
    QString busPolicyPath() const;      // etc/dbus-1/system.d/<name>.conf
    QString polkitActionPath() const;   // usr/share/polkit-1/actions/<name>.policy
    QString systemdUnitPath() const;    // etc/systemd/system/fernpoint-helper.service
    // Where the Debian package puts its activation file: while it is there the package owns the
    // helper, and its polkit action shares the path above.
    QString packagedActivationFilePath() const; // usr/share/dbus-1/system-services/<name>.service

    // One of the paths above without the root and the leading slash ("usr/local/...").
    QString relativePath(const QString& pathBelowRoot) const;

private:
    QString under(const QString& absolutePath) const;

    QString m_root;
    bool m_systemRoot = false;
};

} // namespace fernpoint
