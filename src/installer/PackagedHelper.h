#pragma once

#include <QLatin1StringView>
#include <QString>

#include <optional>

namespace fernpoint {

// Recognises the helper that FernPoint's Debian package installed: its activation file and
// program where the package puts them, both root's alone, and nothing that would win over them
// on the bus. The package manager keeps such a helper current, so the application need not
// install a copy of its own (nor ask for a password to do so).
class PackagedHelper final {
public:
    static constexpr QLatin1StringView kProgram{"/usr/libexec/fernpoint/fernpoint-helper"};

    // The machine as the check sees it.
    struct System {
        // Where the file system starts: "/" on a real machine, a folder of files in a test.
        QString root = QStringLiteral("/");
        // Whose files count as root's.
        unsigned rootUid = 0;
        // DBUS_SYSTEM_BUS_ADDRESS when it names a bus other than the machine's own (as in the
        // demo and the tests), where the package's helper does not serve.
        std::optional<QString> privateSystemBus;

        static System current();
    };

    // Why the files do not show the package's own helper on the machine's system bus; empty
    // when they do. It only looks: nothing is started or changed.
    static QString problem(const System& system);
};

} // namespace fernpoint
