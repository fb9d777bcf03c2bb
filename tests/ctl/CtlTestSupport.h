#pragma once

// Shared by the fernpointctl tests: running the built program and the reference helper.

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>

namespace fernpoint::test {

inline const QString kHelperBusName = QStringLiteral("com.lunacore.sdwan.fernpoint.helper");

// What one run of fernpointctl left behind.
struct CtlRun {
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;

    QString outText() const { return QString::fromUtf8(out); }
    QString errText() const { return QString::fromUtf8(err); }
    // Standard error holds exactly one line (with its newline) and that line.
    bool errIsOneLine() const { return err.endsWith('\n') && err.count('\n') == 1; }
};

// The test's own environment (its temporary home, the pinned language) with the given bus as
// the system bus; an empty address keeps the unreachable bus the test runner sets.
inline QProcessEnvironment ctlEnvironment(const QString& busAddress = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!busAddress.isEmpty())
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), busAddress);
    environment.remove(QStringLiteral("DBUS_STARTER_ADDRESS"));
    environment.remove(QStringLiteral("DBUS_STARTER_BUS_TYPE"));
    environment.remove(QStringLiteral("FERNPOINTCTL_VERBOSE"));
    return environment;
}

inline void prepareCtl(QProcess& process, const QStringList& arguments,
                       const QProcessEnvironment& environment) {
    process.setProgram(QStringLiteral(FERNPOINTCTL_PROGRAM));
    process.setArguments(arguments);
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
}

inline CtlRun runCtl(const QStringList& arguments, const QProcessEnvironment& environment,
                     int timeoutMs = 60000) {
    QProcess process;
    prepareCtl(process, arguments, environment);
    process.start();
    CtlRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.finished = process.exitStatus() == QProcess::NormalExit;
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

inline CtlRun runCtl(const QStringList& arguments, const QString& busAddress = {}) {
    return runCtl(arguments, ctlEnvironment(busAddress));
}

// A line of `watch`: the local time, two spaces, the state.
inline const QRegularExpression& watchLinePattern() {
    static const QRegularExpression pattern(
        QStringLiteral(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}  (\S.*)$)"));
    return pattern;
}

// The built reference helper, serving on the bus without authorization and with a fast
// simulated core, until the object goes away.
class ReferenceHelper {
public:
    explicit ReferenceHelper(const QString& busAddress)
        : m_busAddress(busAddress) {
        m_process.setProgram(QStringLiteral(FERNPOINT_HELPER_PROGRAM));
        m_process.setArguments({QStringLiteral("--no-authorization"),
                                QStringLiteral("--step-delay-ms"), QStringLiteral("100")});
        m_process.setProcessEnvironment(ctlEnvironment(busAddress));
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    ~ReferenceHelper() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    ReferenceHelper(const ReferenceHelper&) = delete;
    ReferenceHelper& operator=(const ReferenceHelper&) = delete;

    // Starts the helper and waits until it owns its bus name.
    bool start(int timeoutMs = 10000) {
        m_process.start();
        if (!m_process.waitForStarted(timeoutMs))
            return false;
        QDBusConnection bus =
            QDBusConnection::connectToBus(m_busAddress, QStringLiteral("ctl-test-watch-") +
                                                            QString::number(m_process.processId()));
        const QDeadlineTimer deadline(timeoutMs);
        bool owned = false;
        while (!owned && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
            owned = bus.interface() && bus.interface()->isServiceRegistered(kHelperBusName).value();
            if (!owned)
                QTest::qWait(20);
        }
        QDBusConnection::disconnectFromBus(bus.name());
        return owned;
    }

private:
    QString m_busAddress;
    QProcess m_process;
};

} // namespace fernpoint::test
