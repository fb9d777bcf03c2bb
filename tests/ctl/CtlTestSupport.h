#pragma once

// Shared by the fernpointctl tests: running the built program in a child process.

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

namespace fernpoint::test {

// What one run of fernpointctl left behind.
struct CtlRun {
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;

    QString outText() const { return QString::fromUtf8(out); }
    QString errText() const { return QString::fromUtf8(err); }
    // Standard error holds exactly one line, with its newline.
    bool errIsOneLine() const { return err.endsWith('\n') && err.count('\n') == 1; }
};

// The test's own environment (its temporary home, the pinned language) with the given bus as
// the system bus; an empty address keeps the unreachable bus the test runner sets.
inline QProcessEnvironment ctlEnvironment(const QString& busAddress = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!busAddress.isEmpty())
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), busAddress);
    for (const char* name :
         {"DBUS_STARTER_ADDRESS", "DBUS_STARTER_BUS_TYPE", "FERNPOINTCTL_VERBOSE"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

inline void prepareCtl(QProcess& process, const QStringList& arguments,
                       const QProcessEnvironment& environment) {
    process.setProgram(QStringLiteral(FERNPOINTCTL_PROGRAM));
    process.setArguments(arguments);
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
}

inline CtlRun runCtl(const QStringList& arguments, const QProcessEnvironment& environment) {
    QProcess process;
    prepareCtl(process, arguments, environment);
    process.start();
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit, process.exitCode(),
            process.readAllStandardOutput(), process.readAllStandardError()};
}

inline CtlRun runCtl(const QStringList& arguments, const QString& busAddress = {}) {
    return runCtl(arguments, ctlEnvironment(busAddress));
}

} // namespace fernpoint::test
