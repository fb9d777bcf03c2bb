#include "HelperInstaller.h"

#include "BundledHelperProgram.h"
#include "DBusHelperJobProbe.h"
#include "HelperContract.h"
#include "HelperJobProbe.h"
#include "PkexecRunner.h"
#include "PrivilegedRunner.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QSettings>

namespace fernpoint {
namespace {

const QString kOSStatusDomain = QStringLiteral("NSOSStatusErrorDomain");
const QString kInstallerDomain = QStringLiteral("HelperInstaller");

// The statuses the authorization step reports for pkexec's outcomes.
constexpr int kStatusAuthorizerUnavailable = -60008;
constexpr int kStatusCanceled = -60006;
constexpr int kStatusDenied = -60005;

// The bundled helper program was not safe to run as root; nobody was asked.
constexpr int kStatusProgramRefused = -2;

constexpr int kPkexecDismissed = 126;
constexpr int kPkexecNotAuthorized = 127;

InstallError authorizationCreateError(int status) {
    return {kOSStatusDomain, status, QStringLiteral("AuthorizationCreate 失败: %1").arg(status)};
}

InstallError authorizationCopyRightsError(int status) {
    return {kOSStatusDomain, status,
            QStringLiteral("AuthorizationCopyRights 失败: %1").arg(status)};
}

QString firstNonEmptyLine(const QString& text) {
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const QString trimmed = line.trimmed();
        if (!trimmed.isEmpty())
            return trimmed;
    }
    return QString();
}

} // namespace

HelperInstaller::HelperInstaller(HelperJobProbe& probe, PrivilegedRunner& runner,
                                 QSettings& settings, QString helperProgramPath)
    : m_probe(probe)
    , m_runner(runner)
    , m_settings(settings)
    , m_helperProgramPath(std::move(helperProgramPath)) {}

HelperInstaller& HelperInstaller::shared() {
    static DBusHelperJobProbe probe(QDBusConnection::systemBus());
    static PkexecRunner runner;
    static QSettings settings(QStringLiteral("FernPoint"), QStringLiteral("fernpoint"));
    static HelperInstaller installer(
        probe, runner, settings, bundledHelperProgramPath(QCoreApplication::applicationDirPath()));
    return installer;
}

void HelperInstaller::ensureHelperInstalled(const Completion& completion) {
    const bool jobPresent = m_probe.isHelperJobPresent();
    const QVariant stored = m_settings.value(installedVersionKey);
    // Plain text equality: "1.0.5" or "1.0.04" are other versions, replaced like older ones.
    if (jobPresent && stored.isValid() && stored.toString() == contract::kVersion) {
        completion(std::nullopt);
        return;
    }
    if (jobPresent && m_probe.isPackagedHelperCurrent()) {
        // Installed and kept current by the package manager: nothing to install, nobody to ask.
        m_settings.setValue(installedVersionKey, QString(contract::kVersion));
        m_settings.sync();
        completion(std::nullopt);
        return;
    }
    install(completion);
}

void HelperInstaller::install(const Completion& completion) {
    const PrivilegedRunner::Outcome outcome =
        m_runner.run(m_helperProgramPath, {QStringLiteral("--install")});
    if (outcome.kind == PrivilegedRunner::Outcome::Kind::AuthorizerMissing) {
        completion(authorizationCreateError(kStatusAuthorizerUnavailable));
        return;
    }
    if (outcome.kind == PrivilegedRunner::Outcome::Kind::ProgramRefused) {
        completion(InstallError{kInstallerDomain, kStatusProgramRefused, outcome.standardError});
        return;
    }
    switch (outcome.exitCode) {
    case 0:
        m_settings.setValue(installedVersionKey, QString(contract::kVersion));
        m_settings.sync();
        completion(std::nullopt);
        return;
    case kPkexecDismissed:
        completion(authorizationCopyRightsError(kStatusCanceled));
        return;
    case kPkexecNotAuthorized:
        completion(authorizationCopyRightsError(kStatusDenied));
        return;
    default:
        break;
    }
    const QString description = firstNonEmptyLine(outcome.standardError);
    if (description.isEmpty()) {
        completion(InstallError{kInstallerDomain, -1, QStringLiteral("SMJobBless 失败")});
        return;
    }
    completion(InstallError{kInstallerDomain, outcome.exitCode, description});
}

} // namespace fernpoint
