#pragma once

#include "InstallLayout.h"

#include <QString>
#include <QStringList>

class QDBusConnection;

namespace fernpoint {

// Puts the helper program and its system files in place below a root folder, or removes them.
class HelperInstallation final {
public:
    explicit HelperInstallation(const InstallLayout& layout);

    // Copies the program read from programFd and writes the four system files. All or nothing:
    // on failure nothing new is in place and no temporary file is left. error() says why.
    bool install(int programFd);
    // Removes what install() put in place; files already gone are fine.
    bool uninstall();
    const QString& error() const { return m_error; }

    // Tells systemd (when it runs) and the bus that the files changed, and when asked ends a
    // running helper so that the next call starts the program now in place. Returns warnings:
    // the files are in place either way, and the bus also picks them up on its own.
    QStringList announceChange(QDBusConnection& bus, bool stopRunningHelper);

private:
    InstallLayout m_layout;
    QString m_error;
};

} // namespace fernpoint
