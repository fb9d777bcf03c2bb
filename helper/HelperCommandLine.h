#pragma once

#include <QString>
#include <QStringList>

namespace fernpoint {

// What the helper was asked to do on its command line.
struct HelperCommandLine {
    enum class Mode { Serve, Install, Uninstall, Help, Version };

    Mode mode = Mode::Serve;
    // Root folder of the install step; "/" means the machine's own system locations.
    QString root = QStringLiteral("/");
    bool rootGiven = false;
    // Only for private test buses that have no polkit: every caller is allowed.
    bool noAuthorization = false;
    // Delay of one step of the simulated core (starting -> running, connecting -> connected).
    int stepDelayMs = 1500;
    // How long a polkit check on which a person may be asked can take before the call is refused.
    // It stays well below the 60 s the application waits for a command's answer.
    int authorizationTimeoutMs = 45000;
    // Empty when the command line was understood.
    QString error;

    static HelperCommandLine parse(const QStringList& arguments);
    static QString usage();
};

} // namespace fernpoint
