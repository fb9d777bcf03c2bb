#pragma once

#include "InstallError.h"

#include <QString>

#include <functional>
#include <optional>

class QSettings;

namespace fernpoint {

class HelperJobProbe;
class PrivilegedRunner;

// Makes sure the gateway helper of the required version is installed as a system service, and
// installs it with an administrator's authorization when it is not.
class HelperInstaller final {
public:
    static constexpr QLatin1StringView installedVersionKey{"fernpoint.helper.installedVersion"};

    // Success is an empty optional.
    using Completion = std::function<void(const std::optional<InstallError>&)>;

    HelperInstaller(HelperJobProbe& probe, PrivilegedRunner& runner, QSettings& settings,
                    QString helperProgramPath);
    HelperInstaller(const HelperInstaller&) = delete;
    HelperInstaller& operator=(const HelperInstaller&) = delete;

    // The process-wide installer: system bus probe, pkexec, the application's QSettings and the
    // bundled helper program.
    static HelperInstaller& shared();

    // Runs on the calling (main) thread and calls the completion before it returns.
    void ensureHelperInstalled(const Completion& completion);

private:
    void install(const Completion& completion);

    HelperJobProbe& m_probe;
    PrivilegedRunner& m_runner;
    QSettings& m_settings;
    QString m_helperProgramPath;
};

} // namespace fernpoint
