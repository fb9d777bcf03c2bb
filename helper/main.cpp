// fernpoint-helper: serves the gateway helper contract on the system bus, or installs/removes
// itself when started with --install / --uninstall.

#include "CallLog.h"
#include "HelperAdaptor.h"
#include "HelperBuildInfo.h"
#include "HelperCommandLine.h"
#include "HelperInstallation.h"
#include "HelperService.h"
#include "InstallLayout.h"
#include "PendingAuthorizations.h"
#include "PolkitAuthorizer.h"
#include "SimulatedGatewayCore.h"
#include "UnixSignalWatcher.h"
#include "UnrestrictedAuthorizer.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QFileSystemWatcher>

#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace fernpoint;

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// Where the machine's own system bus listens.
constexpr char kMachineBusSocket[] = "/run/dbus/system_bus_socket";

// The one line the installer shows its user when the install step fails.
int failWith(const QString& line, int status = kExitFailure) {
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    return status;
}

void warn(const QStringList& warnings) {
    for (const QString& warning : warnings)
        logLine(QStringLiteral("warning: ") + warning);
}

int runInstallStep(const HelperCommandLine& commandLine) {
    const QString rootProblem = InstallLayout::rootProblem(commandLine.root);
    if (!rootProblem.isEmpty())
        return failWith(rootProblem, kExitUsage);
    const InstallLayout layout(commandLine.root);
    const bool installing = commandLine.mode == HelperCommandLine::Mode::Install;
    if (layout.isSystemRoot() && ::geteuid() != 0) {
        return failWith(
            QStringLiteral("refusing to %1 the helper in the system locations: not "
                           "running as root (use sudo or pkexec)")
                .arg(installing ? QStringLiteral("install") : QStringLiteral("remove")));
    }
    // System files are world-readable, whatever umask the caller had.
    ::umask(022);

    HelperInstallation installation(layout);
    if (installing) {
        const int programFd = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
        if (programFd < 0)
            return failWith(QStringLiteral("cannot read the helper's own program"));
        const bool ok = installation.install(programFd);
        ::close(programFd);
        if (!ok)
            return failWith(installation.error());
    } else if (!installation.uninstall()) {
        return failWith(installation.error());
    }

    // Other roots are staging folders or tests: the machine's bus and systemd do not read them.
    // The bus is the machine's by its own socket: an address from the environment (sudo may
    // keep one) could lead anywhere.
    if (layout.isSystemRoot()) {
        const QString name = QStringLiteral("fernpoint-install-step");
        QDBusConnection bus = QDBusConnection::connectToBus(
            QStringLiteral("unix:path=") + QLatin1StringView(kMachineBusSocket), name);
        warn(installation.announceChange(bus, true));
        QDBusConnection::disconnectFromBus(name);
    }
    return 0;
}

// The bus that started this program serves as the system bus: for a bus-activated helper it is
// the system bus itself, and in tests a private bus. Callers' names and polkit live on it.
// Its address is empty for the machine's own system bus.
QString serviceBusAddress() {
    const QString starter = qEnvironmentVariable("DBUS_STARTER_ADDRESS");
    return starter.isEmpty() ? qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS") : starter;
}

// Whether a D-Bus address may lead to the machine's own system bus, however it is spelt: socket
// paths are compared with the machine's socket by device and inode (so extra slashes, "..",
// links and %-escapes change nothing), and transports that run or reach something else (such as
// unixexec:) count as the machine's bus, since nobody can tell where they lead.
bool mayReachMachineSystemBus(const QString& address) {
    if (address.isEmpty())
        return true;
    struct stat machine = {};
    const bool machineBusExists = ::stat(kMachineBusSocket, &machine) == 0;
    const QStringList entries = address.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& entry : entries) {
        const QString transport = entry.section(QLatin1Char(':'), 0, 0);
        if (transport == QLatin1StringView("tcp") || transport == QLatin1StringView("nonce-tcp"))
            continue;
        if (transport != QLatin1StringView("unix"))
            return true;
        const QStringList pairs = entry.section(QLatin1Char(':'), 1).split(QLatin1Char(','));
        for (const QString& pair : pairs) {
            if (!pair.startsWith(QLatin1StringView("path=")) || !machineBusExists)
                continue;
            const QByteArray path = QByteArray::fromPercentEncoding(pair.mid(5).toUtf8());
            struct stat socket = {};
            if (::stat(path.constData(), &socket) == 0 && socket.st_dev == machine.st_dev &&
                socket.st_ino == machine.st_ino)
                return true;
        }
    }
    return false;
}

// Calls end once the program file the helper runs from is replaced or removed (an install step
// put a new one in place), so that the next call starts the program now in place.
void endWhenProgramIsReplaced(QFileSystemWatcher& watcher, const std::function<void()>& end) {
    struct stat running = {};
    if (::stat("/proc/self/exe", &running) != 0)
        return;
    const QString program = QCoreApplication::applicationFilePath();
    watcher.addPath(program);
    QObject::connect(&watcher, &QFileSystemWatcher::fileChanged, &watcher,
                     [program, running, end]() {
                         struct stat now = {};
                         if (::stat(QFile::encodeName(program).constData(), &now) == 0 &&
                             now.st_dev == running.st_dev && now.st_ino == running.st_ino)
                             return;
                         logLine(QStringLiteral("%1 was replaced or removed; ending").arg(program));
                         end();
                     });
}

int serve(QCoreApplication& app, const HelperCommandLine& commandLine) {
    const QString busAddress = serviceBusAddress();
    if (commandLine.noAuthorization && mayReachMachineSystemBus(busAddress))
        return failWith(QStringLiteral("--no-authorization is refused on the machine's system bus"),
                        kExitUsage);
    const QString busDescription =
        busAddress.isEmpty() ? QStringLiteral("the system bus") : busAddress;
    QDBusConnection bus =
        busAddress.isEmpty()
            ? QDBusConnection::systemBus()
            : QDBusConnection::connectToBus(busAddress, QStringLiteral("fernpoint-helper-bus"));
    if (!bus.isConnected())
        return failWith(QStringLiteral("cannot connect to %1: %2")
                            .arg(busDescription, bus.lastError().message()));

    SimulatedGatewayCore core(commandLine.stepDelayMs);
    std::unique_ptr<Authorizer> authorizer;
    if (commandLine.noAuthorization) {
        logLine(QStringLiteral("authorization is OFF (--no-authorization): every caller may "
                               "change the gateway"));
        authorizer = std::make_unique<UnrestrictedAuthorizer>();
    } else {
        authorizer = std::make_unique<PolkitAuthorizer>(bus, commandLine.authorizationTimeoutMs);
    }

    const QString programPath = QCoreApplication::applicationFilePath();
    auto uninstall = [&bus, programPath]() -> QString {
        const std::optional<QString> root = InstallLayout::rootOfInstalledProgram(programPath);
        if (!root)
            return QStringLiteral("this helper does not run from an installed location (%1); "
                                  "nothing was removed")
                .arg(programPath);
        HelperInstallation installation{InstallLayout(*root)};
        if (!installation.uninstall())
            return installation.error();
        warn(installation.announceChange(bus, false));
        return QString();
    };

    PendingAuthorizations authorizations(bus, *authorizer);
    HelperService service(core, authorizations, uninstall);
    new HelperAdaptor(&service);
    if (!bus.registerObject(contract::kObjectPath, &service, QDBusConnection::ExportAdaptors))
        return failWith(QStringLiteral("cannot register %1").arg(contract::kObjectPath));
    if (!bus.registerService(contract::kBusName)) {
        return failWith(QStringLiteral("cannot own %1 on %2: %3")
                            .arg(contract::kBusName, busDescription, bus.lastError().message()));
    }

    // A round trip to the bus before the end: answers already sent are on the wire by then.
    const auto end = [&bus]() {
        bus.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                QStringLiteral("/org/freedesktop/DBus"),
                                                QStringLiteral("org.freedesktop.DBus.Peer"),
                                                QStringLiteral("Ping")),
                 QDBus::Block, 2000);
        QCoreApplication::exit(0);
    };
    QFileSystemWatcher programWatcher;
    endWhenProgramIsReplaced(programWatcher, end);

    UnixSignalWatcher signals;
    QObject::connect(&signals, &UnixSignalWatcher::signalReceived, &app, [](int signalNumber) {
        logLine(QStringLiteral("ending on signal %1").arg(signalNumber));
        QCoreApplication::exit(0);
    });
    QObject::connect(&service, &HelperService::uninstalled, &app, [&end]() {
        logLine(QStringLiteral("uninstalled; ending"));
        end();
    });

    // A helper whose bus went away cannot be reached again; end, so that the next call on a new
    // bus activates a fresh one.
    bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"),
                &service, SLOT(onBusDisconnected()));
    QObject::connect(&service, &HelperService::busLost, &app, []() {
        logLine(QStringLiteral("lost the bus connection; ending"));
        QCoreApplication::exit(kExitFailure);
    });

    logLine(QStringLiteral("%1 serving %2 on %3")
                .arg(contract::kVersion, contract::kBusName, busDescription));
    const int status = app.exec();
    bus.unregisterService(contract::kBusName);
    return status;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const HelperCommandLine commandLine = HelperCommandLine::parse(QCoreApplication::arguments());
    if (!commandLine.error.isEmpty())
        return failWith(commandLine.error, kExitUsage);
    switch (commandLine.mode) {
    case HelperCommandLine::Mode::Help:
        std::fputs(HelperCommandLine::usage().toUtf8().constData(), stdout);
        return 0;
    case HelperCommandLine::Mode::Version:
        std::printf("%s\n", QString(contract::kVersion).toUtf8().constData());
        return 0;
    case HelperCommandLine::Mode::Install:
    case HelperCommandLine::Mode::Uninstall:
        return runInstallStep(commandLine);
    case HelperCommandLine::Mode::Serve:
        break;
    }
    return serve(app, commandLine);
}
