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

    // Copies the program read from programFd and writes the four system files, every one through
    // folders opened one by one below the root (see FolderHandle). All or nothing: on failure
    // nothing new is in place and no temporary file is left. error() says why.
    bool install(int programFd);
    // Removes what install() put in place; files already gone are fine.
    bool uninstall();
    const QString& error() const { return m_error; }

    // Tells systemd (when it runs) and the bus that the files changed, and when asked waits for a
    // running helper to end (systemd stops its unit; a helper also ends once its program was
    // replaced) so that the next call starts the program now in place. Returns warnings: the
    // files are in place either way, and the bus also picks them up on its own.
    QStringList announceChange(QDBusConnection& bus, bool stopRunningHelper);

private:
    QString rootPath() const;
    // Whether the system's package manager installed the helper below the root. Its polkit action
    // shares the install step's path, so install() refuses then and uninstall() keeps that file.
    bool isPackaged() const;
    // Fails with the error found on the way to path, or with a plain one.
    bool fail(const QString& path);

    InstallLayout m_layout;
    QString m_error;
};

} // namespace fernpoint
