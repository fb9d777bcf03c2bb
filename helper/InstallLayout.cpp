#include "InstallLayout.h"

#include "HelperBuildInfo.h"

#include <QDir>
#include <QFileInfo>

namespace fernpoint {

InstallLayout::InstallLayout(const QString& root)
    : m_root(QDir::cleanPath(root)) {
    // A root that is the real root through a symbolic link counts as the real root.
    const QString canonical = QFileInfo(m_root).canonicalFilePath();
    m_systemRoot = m_root == QLatin1StringView("/") || canonical == QLatin1StringView("/");
    if (m_root == QLatin1StringView("/"))
        m_root.clear();
}

QString InstallLayout::rootProblem(const QString& root) {
    if (!root.startsWith(QLatin1Char('/')))
        return QStringLiteral("--root must be an absolute folder");
    for (const QChar c : root) {
        const char16_t u = c.unicode();
        const bool plain = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') ||
                           (u >= u'0' && u <= u'9') || u == u'/' || u == u'.' || u == u'_' ||
                           u == u'-' || u == u'+';
        if (!plain)
            return QStringLiteral("--root may only contain letters, digits and / . _ - +");
    }
    return QString();
}

std::optional<QString> InstallLayout::rootOfInstalledProgram(const QString& programPath) {
    const QString path = QDir::cleanPath(programPath);
    const QString suffix = build::kInstalledHelperPath;
    if (!path.endsWith(suffix))
        return std::nullopt;
    const QString root = path.left(path.size() - suffix.size());
    return root.isEmpty() ? QStringLiteral("/") : root;
}

QString InstallLayout::relativePath(const QString& pathBelowRoot) const {
    return pathBelowRoot.mid(m_root.size() + 1);
}

QString InstallLayout::under(const QString& absolutePath) const {
    return m_root + absolutePath;
}

QString InstallLayout::programPath() const {
    return under(build::kInstalledHelperPath);
}

QString InstallLayout::activationFilePath() const {
    return under(QStringLiteral("/usr/local/share/dbus-1/system-services/%1.service")
                     .arg(contract::kBusName));
}

QString InstallLayout::packagedActivationFilePath() const {
    return under(
        QStringLiteral("/usr/share/dbus-1/system-services/%1.service").arg(contract::kBusName));
}

QString InstallLayout::busPolicyPath() const {
    return under(QStringLiteral("/etc/dbus-1/system.d/%1.conf").arg(contract::kBusName));
}

QString InstallLayout::polkitActionPath() const {
    return under(QStringLiteral("/usr/share/polkit-1/actions/%1.policy").arg(contract::kBusName));
}

QString InstallLayout::systemdUnitPath() const {
    return under(QStringLiteral("/etc/systemd/system/%1").arg(build::kHelperUnit));
}

} // namespace fernpoint
